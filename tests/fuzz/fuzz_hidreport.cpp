// A HID report descriptor is written by whoever built the device. Whatever its bytes: the
// report sizes read from it stay within their bounds, a cut-off descriptor gives no more than
// the whole one, and a report of any size is shown as hex, three characters a byte.
//
// Input: the descriptor.

#include "CvHidText.h"
#include "THidReportLayout.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok) std::abort();
}

void CheckText(const quint8* data, int size)
{
    const QString text = HidReportText(data, size);
    if (size <= 0) {
        check(text.isEmpty());
        return;
    }
    check(text.size() == 3 * qsizetype(size));
    for (int i = 0; i < size; ++i) {
        check(text[3 * i + 2] == u' ');
        check(text.mid(3 * i, 2) == QStringLiteral("%1").arg(data[i], 2, 16, QLatin1Char('0')).toUpper());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536) return 0;
    const QByteArray descriptor(reinterpret_cast<const char*>(data), qsizetype(size));
    const THidReportLayout layout = THidReportLayout::FromDescriptor(descriptor);
    for (int length : {layout.InputReportLength, layout.OutputReportLength})
        check(length >= 0 && length <= THidReportLayout::kMaxReportLength);
    // Reports are at least their id byte and one more when they are declared at all.
    check(layout.InputReportLength != 1 && layout.OutputReportLength != 1);
    // A prefix of the descriptor declares no larger reports than the whole.
    const THidReportLayout half = THidReportLayout::FromDescriptor(descriptor.left(descriptor.size() / 2));
    check(half.InputReportLength <= layout.InputReportLength);
    check(half.OutputReportLength <= layout.OutputReportLength);
    check(!half.NumberedReports || layout.NumberedReports);
    // A read of the input report's size (or the descriptor's bytes as one) shows as hex.
    CheckText(data, int(size));
    QByteArray report(layout.InputReportLength, '\xA5');
    CheckText(reinterpret_cast<const quint8*>(report.constData()), int(report.size()));
    check(HidReportText(nullptr, int(size)).isEmpty());
    return 0;
}
