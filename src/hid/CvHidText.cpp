#include "CvHidText.h"

#include "CvCodecs.h"
#include "CvMessages.h"

#include <algorithm>

namespace {
constexpr int kMaxProductChars = 254;
}

QString HidCleanProductString(const QString& productString)
{
    QString s = productString.left(kMaxProductChars);
    // A cut must not leave half a surrogate pair.
    if (!s.isEmpty() && s.back().isHighSurrogate()) s.chop(1);
    for (QChar& c : s) {
        const auto cat = c.category();
        if (cat == QChar::Other_Control || cat == QChar::Other_Format || cat == QChar::Separator_Line ||
            cat == QChar::Separator_Paragraph)
            c = u'_';
    }
    return s;
}

QString HidDeviceName(const QString& productString, quint16 vendorID, quint16 productID)
{
    return QStringLiteral("%1 VID 0x%2 %3")
        .arg(productString, QString::number(vendorID, 16).toUpper().rightJustified(4, u'0'),
             HidPortName(productID));
}

QString HidPortName(quint16 productID)
{
    return QStringLiteral("PID 0x") + QString::number(productID, 16).toUpper().rightJustified(4, u'0');
}

QString HidReportText(const quint8* data, int size)
{
    if (data == nullptr || size <= 0) return QString();
    return HexText(data, size);
}

THidBlockSend HidPrepareBlockSend(const QString& blockText)
{
    THidBlockSend send;
    QByteArray bytes;
    if (!ParseHexText(blockText, &bytes, &send.Error)) {
        send.Error = Msg(QStringLiteral("HID send: %1 Nothing was sent.")).arg(send.Error);
        return send;
    }
    const int kept = int(std::min<qsizetype>(bytes.size(), THidBlockSend::kBufferSize));
    const int dropped = int(bytes.size() - kept);
    std::copy_n(reinterpret_cast<const quint8*>(bytes.constData()), kept, send.Buffer.begin());
    send.Echo = QStringLiteral("> ") + HexText(send.Buffer.data(), kept);
    if (dropped > 0)
        send.CutNotice = Msg(QStringLiteral("HID send: only the first %1 bytes are sent, %2 more were cut."))
                             .arg(THidBlockSend::kBufferSize)
                             .arg(dropped);
    return send;
}
