#include "cvPcDeviceMgt.h"

#include "CvCodecs.h"
#include "CvMessages.h"

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

bool HasIdentity(const TSerialDeviceInfo& device)
{
    return device.Kind == TSerialPortKind::Usb &&
           (!device.SerialNumber.isEmpty() || !device.UsbPath.isEmpty());
}

bool SameDevice(const TSerialDeviceInfo& known, const TSerialDeviceInfo& seen)
{
    if (!HasIdentity(known)) return known.FullName == seen.FullName;
    if (seen.Kind != TSerialPortKind::Usb || seen.VendorId != known.VendorId ||
        seen.ProductId != known.ProductId)
        return false;
    // Two adapters of one model differ in their serial numbers, when they have them.
    if (!known.SerialNumber.isEmpty())
        return seen.SerialNumber == known.SerialNumber && seen.InterfaceNumber == known.InterfaceNumber;
    // Without one, the socket it is plugged into tells it; the interface is part of the path.
    return seen.SerialNumber.isEmpty() && seen.UsbPath == known.UsbPath;
}

QString SerialNumberText(const TSerialDeviceInfo& device)
{
    return device.SerialNumber.isEmpty() ? Msg(QStringLiteral("no serial number"))
                                         : Msg(QStringLiteral("serial number %1")).arg(device.SerialNumber);
}

QString DeviceToolTip(const TSerialDeviceInfo& device)
{
    QStringList lines{device.FullName};
    // A virtual or network port's name holds its path already.
    if (device.Kind != TSerialPortKind::Virtual && device.Kind != TSerialPortKind::Network)
        lines << device.DevicePath;
    if (device.Kind == TSerialPortKind::Usb) {
        QString usb = QStringLiteral("USB %1:%2")
                          .arg(device.VendorId, 4, 16, QLatin1Char('0'))
                          .arg(device.ProductId, 4, 16, QLatin1Char('0'));
        if (!device.Manufacturer.isEmpty()) usb += QStringLiteral(", ") + device.Manufacturer;
        if (device.InterfaceNumber >= 0)
            usb += QStringLiteral(", ") + Msg(QStringLiteral("interface %1")).arg(device.InterfaceNumber);
        lines << usb << SerialNumberText(device);
    }
    if (!device.ByIdLink.isEmpty()) lines << device.ByIdLink;
    // Nothing a device wrote can break the tip into more lines than these.
    return lines.join(u'\n');
}

QString DeviceListText(const QList<TSerialDeviceInfo>& devices)
{
    if (devices.isEmpty()) return QStringLiteral("No serial ports found.\n");
    const QString none = QStringLiteral("-");
    QList<QStringList> rows{{QStringLiteral("PATH"), QStringLiteral("USB"), QStringLiteral("SERIAL"),
                             QStringLiteral("BY-ID"), QStringLiteral("NAME")}};
    for (const TSerialDeviceInfo& d : devices) {
        const bool usb = d.Kind == TSerialPortKind::Usb;
        const QString ids = usb ? QStringLiteral("%1:%2")
                                      .arg(d.VendorId, 4, 16, QLatin1Char('0'))
                                      .arg(d.ProductId, 4, 16, QLatin1Char('0'))
                                : none;
        // A blank inside a serial number would shift the columns a script reads.
        QString serial = d.SerialNumber;
        serial.replace(u' ', u'_');
        rows << QStringList{d.DevicePath.isEmpty() ? d.Node : d.DevicePath, ids,
                            serial.isEmpty() ? none : serial, d.ByIdLink.isEmpty() ? none : d.ByIdLink,
                            d.FullName};
    }
    QList<qsizetype> widths(4, 0);
    for (const QStringList& row : rows)
        for (int c = 0; c < 4; ++c) widths[c] = std::max(widths[c], row[c].size());
    QString text;
    for (const QStringList& row : rows) {
        for (int c = 0; c < 4; ++c) text += row[c].leftJustified(widths[c]) + QStringLiteral("  ");
        text += row[4] + u'\n';
    }
    return text;
}
