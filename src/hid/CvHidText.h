#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

// Texts the main window shows for HID devices.

// The product string made fit for a list entry: at most 254 characters, control and
// format characters (the device writes them, not the user) replaced by '_'.
QString HidCleanProductString(const QString& productString);
// "Keyboard VID 0x00AB PID 0x00CD"; " VID 0x00AB PID 0x00CD" without a product string.
QString HidDeviceName(const QString& productString, quint16 vendorID, quint16 productID);
// "PID 0x00CD" - what ExtractPortName gives for a HID name whose product string holds
// no "COM"/"com"; use this one, it does not depend on the product string.
QString HidPortName(quint16 productID);
// The line shown for an input report: two upper-case hex digits and a blank per data
// byte; empty for no data.
QString HidReportText(const quint8* data, int size);

// The block-send text prepared for a HID output report.
struct THidBlockSend {
    static constexpr int kBufferSize = 256;
    // Zero-filled, then the decoded bytes; byte 0 is the report id.
    std::array<quint8, kBufferSize> Buffer{};
    // "> " and the canonical hex text of the bytes kept.
    QString Echo;
    // Empty unless the text decoded to more than 256 bytes; then says how many were cut.
    QString CutNotice;
    // Not empty when the text is not hex byte text: what and where. Nothing is to be sent.
    QString Error;
};
// The text read as strict hex byte text (ParseHexText).
THidBlockSend HidPrepareBlockSend(const QString& blockText);
