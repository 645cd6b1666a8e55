// USB descriptors and sysfs text are written by whoever built the device. Whatever
// they hold, the device-list name must stay clean, keep its port name and make a
// safe file name.
//
// Input: [interface length: 1 byte][product length: 2 bytes, little-endian]
//        [interface text][product text][driver name: the rest]

#include "CvCodecs.h"
#include "cvPcDeviceMgt.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok) std::abort();
}

void checkClean(const QString& text)
{
    check(text.size() <= MaxFriendlyChars);
    check(!text.startsWith(u' ') && !text.endsWith(u' '));
    check(!text.contains(QStringLiteral("  ")));
    check(!text.contains(QStringLiteral("\uFFFD\uFFFD")));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) check(i + 1 < text.size() && text.at(i + 1).isLowSurrogate());
        if (c.isLowSurrogate()) check(i > 0 && text.at(i - 1).isHighSurrogate());
        if (c.isSurrogate()) continue;
        const QChar::Category cat = c.category();
        check(cat != QChar::Other_Control && cat != QChar::Other_Format && cat != QChar::Separator_Line &&
              cat != QChar::Separator_Paragraph);
        check(cat != QChar::Separator_Space || c == u' ');
    }
    check(CleanDeviceText(text.toUtf8()) == text);
}

void checkFileName(const QString& fullName)
{
    const QString safe = SafeFileNamePart(fullName);
    check(!safe.isEmpty() && !safe.startsWith(u'.'));
    check(safe.toUtf8().size() <= 150);
    check(std::none_of(safe.cbegin(), safe.cend(), [](QChar c) {
        return c == u'/' || c == u'\\' || c.unicode() < 32 || c.unicode() == 127;
    }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;
    const QByteArrayView input(data, qsizetype(size));
    const qsizetype interfaceLength = std::min<qsizetype>(data[0], input.size() - 3);
    const qsizetype productLength =
        std::min<qsizetype>(data[1] | (data[2] << 8), input.size() - 3 - interfaceLength);
    const QByteArrayView interfaceText = input.sliced(3, interfaceLength);
    const QByteArrayView productText = input.sliced(3 + interfaceLength, productLength);
    const QByteArrayView driverName = input.sliced(3 + interfaceLength + productLength);

    const QString a = CleanDeviceText(interfaceText);
    const QString b = CleanDeviceText(productText);
    checkClean(a);
    checkClean(b);
    checkClean(DriverDescription(driverName));

    bool friendly = false;
    const QString kernelName = QStringLiteral("ttyUSB0");
    const QString fullName = DeviceFullName(kernelName, interfaceText, productText, driverName, &friendly);
    check(friendly == !(a.isEmpty() && b.isEmpty()));
    check(fullName.endsWith(QStringLiteral(" (ttyUSB0)")));
    check(ExtractPortName(fullName) == kernelName);
    check(FindPortEntries({fullName}, kernelName) == QList<qsizetype>{0});
    checkFileName(fullName);

    // A strict weak order, or sorting the device list is undefined.
    check(!NaturalLess(a, a));
    check(!(NaturalLess(a, b) && NaturalLess(b, a)));
    check(a == b || NaturalLess(a, b) || NaturalLess(b, a));
    return 0;
}
