#include "cvPcDeviceMgt.h"

#include "CvCodecs.h"

#include <algorithm>

namespace {

// How far back from the limit a cut looks for a blank to end on.
constexpr qsizetype kWordSearchChars = 24;
constexpr char16_t kReplacement = 0xFFFD;

bool isBlankLike(char32_t cp)
{
    switch (QChar::category(cp)) {
    case QChar::Other_Control:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph: return true;
    default: return false;
    }
}

// Invisible marks (bidi overrides, zero-width characters) would let a name look
// like another one; noncharacters and lone surrogates are not text at all.
bool isDropped(char32_t cp)
{
    switch (QChar::category(cp)) {
    case QChar::Other_Format:
    case QChar::Other_Surrogate: return true;
    default: return QChar::isNonCharacter(cp);
    }
}

void cutToLimit(QString& text)
{
    if (text.size() <= MaxFriendlyChars) return;
    qsizetype cut = MaxFriendlyChars - 1; // room for the ellipsis
    if (text.at(cut).isLowSurrogate() && text.at(cut - 1).isHighSurrogate()) --cut;
    const qsizetype blank = text.lastIndexOf(u' ', cut);
    if (blank > 0 && blank >= cut - kWordSearchChars) cut = blank;
    text.truncate(cut);
    while (text.endsWith(u' ')) text.chop(1);
    text += u'…';
}

bool isAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

qsizetype digitRunEnd(const QString& s, qsizetype i)
{
    while (i < s.size() && isAsciiDigit(s.at(i))) ++i;
    return i;
}

} // namespace

QString CleanDeviceText(QByteArrayView raw)
{
    if (raw.size() > MaxAttributeBytes) raw = raw.first(MaxAttributeBytes);
    const QString decoded = QString::fromUtf8(raw);

    QString out;
    out.reserve(std::min<qsizetype>(decoded.size(), 2 * MaxFriendlyChars));
    bool pendingBlank = false;
    for (qsizetype i = 0; i < decoded.size();) {
        const QChar c = decoded.at(i);
        const bool pair = c.isHighSurrogate() && i + 1 < decoded.size() && decoded.at(i + 1).isLowSurrogate();
        const char32_t cp = pair ? QChar::surrogateToUcs4(c, decoded.at(i + 1)) : char32_t(c.unicode());
        i += pair ? 2 : 1;

        if (isBlankLike(cp)) {
            pendingBlank = true;
            continue;
        }
        if (isDropped(cp)) continue;
        // One mark per run of undecodable bytes keeps garbage short and still visible.
        if (cp == kReplacement && !pendingBlank && out.endsWith(QChar(kReplacement))) continue;
        if (pendingBlank && !out.isEmpty()) out += u' ';
        pendingBlank = false;
        if (pair) {
            out += c;
            out += decoded.at(i - 1);
        } else {
            out += c;
        }
    }
    cutToLimit(out);
    return out;
}

QString DriverDescription(QByteArrayView driverName)
{
    const QString name = CleanDeviceText(driverName);
    // The 8250 drivers (platform, PnP and PCI) and the USB CDC driver name the port
    // class, not a product: show what the user knows them as.
    if (name == u"serial8250" || name == u"serial") return QStringLiteral("Serial Port");
    if (name == u"cdc_acm") return QStringLiteral("USB Serial Device");
    return name;
}

QString DeviceFullName(const QString& kernelName, QByteArrayView interfaceText, QByteArrayView productText,
                       QByteArrayView driverName, bool* friendly)
{
    QString description = CleanDeviceText(interfaceText);
    if (description.isEmpty()) description = CleanDeviceText(productText);
    const bool fromUsb = !description.isEmpty();
    if (!fromUsb) description = DriverDescription(driverName);
    if (description.isEmpty()) description = QString::fromUtf16(UnknownDeviceText);
    if (friendly != nullptr) *friendly = fromUsb;
    return description + QStringLiteral(" (") + kernelName + u')';
}

QStringList FullNamesOf(const QList<TSerialDeviceInfo>& devices)
{
    QStringList names;
    names.reserve(devices.size());
    for (const TSerialDeviceInfo& device : devices) names += device.FullName;
    return names;
}

QList<qsizetype> FindPortEntries(const QStringList& fullNames, const QString& portName)
{
    QList<qsizetype> found;
    if (portName.isEmpty()) return found;
    for (qsizetype i = 0; i < fullNames.size(); ++i)
        if (ExtractPortName(fullNames.at(i)) == portName) found += i;
    return found;
}

bool NaturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a.at(i)) && isAsciiDigit(b.at(j))) {
            const qsizetype endA = digitRunEnd(a, i);
            const qsizetype endB = digitRunEnd(b, j);
            while (i + 1 < endA && a.at(i) == u'0') ++i;
            while (j + 1 < endB && b.at(j) == u'0') ++j;
            if (endA - i != endB - j) return endA - i < endB - j;
            const int order = QStringView(a).sliced(i, endA - i).compare(QStringView(b).sliced(j, endB - j));
            if (order != 0) return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        if (a.at(i) != b.at(j)) return a.at(i) < b.at(j);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    // Equal up to leading zeros ("ttyS01", "ttyS1"): still a strict order.
    return a < b;
}
