#pragma once

#include <QByteArray>

// Report sizes read from a HID report descriptor.
struct THidReportLayout {
    // Largest report of its kind in bytes, the report id byte included; 0 when the
    // device declares no such report.
    int InputReportLength = 0;
    int OutputReportLength = 0;
    // The device numbers its reports: reads then start with the report id.
    bool NumberedReports = false;

    // Descriptors come from the device: lengths are capped and a cut-off or
    // malformed descriptor gives what was read up to the fault.
    static THidReportLayout FromDescriptor(const QByteArray& descriptor);

    static constexpr int kMaxReportLength = 16384;
};
