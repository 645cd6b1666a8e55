// Serial ports from sysfs.

#include "cvPcDeviceMgt.h"

#include "CvCodecs.h"
#include "TVirtualPorts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// Deeper than any real device path; stops a looping fixture tree.
constexpr int kMaxWalkDepth = 32;

bool readAttribute(const QString& path, QByteArray* value)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    *value = file.read(MaxAttributeBytes);
    return true;
}

QByteArray attribute(const QString& path)
{
    QByteArray value;
    readAttribute(path, &value);
    return value;
}

QByteArray linkName(const QString& path)
{
    const QString target = QFile::symLinkTarget(path);
    return target.isEmpty() ? QByteArray() : QFileInfo(target).fileName().toUtf8();
}

bool exists(const QString& path)
{
    return QFileInfo::exists(path);
}

QString parentDir(const QString& dir)
{
    return dir.left(std::max<qsizetype>(dir.lastIndexOf(u'/'), 0));
}

// The characters the kernel uses in tty names; anything else could not be a /dev
// node of ours and is not listed.
bool isKernelTtyName(const QString& name)
{
    if (name.isEmpty() || !name.at(0).isLetter() || name.at(0).unicode() > 127) return false;
    return std::all_of(name.cbegin(), name.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
               u == u'_' || u == u'-' || u == u'.' || u == u':';
    });
}

quint64 parseNumber(const QByteArray& text, bool* ok)
{
    return text.trimmed().toULongLong(ok, 0);
}

// The 8250 driver registers a fixed number of slots (ttyS0..ttyS31) whether or not a
// UART answers behind them; an empty slot reports type 0 (PORT_UNKNOWN), or, from
// drivers without the type attribute, neither an I/O port nor a memory base.
bool isEmptyUartSlot(const QString& ttyDir, bool* isUart)
{
    QByteArray value;
    bool ok = false;
    if (readAttribute(ttyDir + QStringLiteral("/type"), &value)) {
        *isUart = true;
        const quint64 type = parseNumber(value, &ok);
        return ok && type == 0;
    }
    if (readAttribute(ttyDir + QStringLiteral("/port"), &value)) {
        *isUart = true;
        const quint64 port = parseNumber(value, &ok);
        if (!ok || port != 0) return false;
        const quint64 base = parseNumber(attribute(ttyDir + QStringLiteral("/iomem_base")), &ok);
        return !ok || base == 0;
    }
    *isUart = false;
    return false;
}

struct TUsbStrings {
    bool found = false;
    QByteArray Interface;
    QByteArray Product;
    QByteArray Manufacturer;
    QByteArray Serial;
    quint16 VendorId = 0;
    quint16 ProductId = 0;
    int InterfaceNumber = -1;
    QString InterfaceDir; // its name: the place on the bus
};

quint16 parseHexId(const QByteArray& text)
{
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok, 16);
    return ok && value <= 0xFFFF ? quint16(value) : 0;
}

// Up from the tty's device: the first USB interface (bInterfaceNumber) gives the
// interface string, the first USB device (idVendor) its product and ids.
TUsbStrings usbStrings(const QString& deviceDir, const QString& devicesRoot)
{
    TUsbStrings usb;
    bool interfaceSeen = false;
    QString dir = deviceDir;
    for (int depth = 0; depth < kMaxWalkDepth && dir.startsWith(devicesRoot); ++depth, dir = parentDir(dir)) {
        if (!interfaceSeen && exists(dir + QStringLiteral("/bInterfaceNumber"))) {
            interfaceSeen = true;
            usb.Interface = attribute(dir + QStringLiteral("/interface"));
            bool ok = false;
            const int number = attribute(dir + QStringLiteral("/bInterfaceNumber")).trimmed().toInt(&ok, 16);
            if (ok && number >= 0 && number < 256) usb.InterfaceNumber = number;
            usb.InterfaceDir = QFileInfo(dir).fileName();
        }
        if (exists(dir + QStringLiteral("/idVendor"))) {
            usb.found = true;
            usb.Product = attribute(dir + QStringLiteral("/product"));
            usb.Manufacturer = attribute(dir + QStringLiteral("/manufacturer"));
            usb.Serial = attribute(dir + QStringLiteral("/serial"));
            usb.VendorId = parseHexId(attribute(dir + QStringLiteral("/idVendor")));
            usb.ProductId = parseHexId(attribute(dir + QStringLiteral("/idProduct")));
            break;
        }
    }
    return usb;
}

// Since Linux 6.5 a UART's tty hangs below two serial-base devices (driver names
// "ctrl" and "port"); the driver that tells what the port is sits above them.
QByteArray driverOf(const QString& deviceDir, const QString& devicesRoot)
{
    QString dir = deviceDir;
    for (int depth = 0; depth < kMaxWalkDepth && dir.startsWith(devicesRoot); ++depth) {
        if (linkName(dir + QStringLiteral("/subsystem")) != "serial-base")
            return linkName(dir + QStringLiteral("/driver"));
        dir = parentDir(dir);
    }
    return {};
}

// The link in folder that points at target (udev's by-id and by-path links), empty when none.
QString LinkTo(const QString& folder, const QString& target)
{
    const QString want = QDir::cleanPath(target);
    const QFileInfoList links =
        QDir(folder).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links)
        if (link.isSymLink() && QDir::cleanPath(link.symLinkTarget()) == want) return link.absoluteFilePath();
    return {};
}

} // namespace

bool ReadSerialDevice(const QString& sysRoot, const QString& kernelName, TSerialDeviceInfo* info,
                      const QString& devRoot)
{
    if (!isKernelTtyName(kernelName)) return false;
    const QString root = QFileInfo(sysRoot).canonicalFilePath();
    if (root.isEmpty()) return false;
    const QString devicesRoot = root + QStringLiteral("/devices/");
    const QString ttyDir = root + QStringLiteral("/class/tty/") + kernelName;

    // Consoles, ptys and other virtual ttys have no device behind them.
    const QString deviceDir = QFileInfo(ttyDir + QStringLiteral("/device")).canonicalFilePath();
    if (deviceDir.isEmpty() || !deviceDir.startsWith(devicesRoot)) return false;

    bool isUart = false;
    if (isEmptyUartSlot(ttyDir, &isUart)) return false;

    const TUsbStrings usb = usbStrings(deviceDir, devicesRoot);
    TSerialDeviceInfo device;
    device.FullName = DeviceFullName(kernelName, usb.Interface, usb.Product, driverOf(deviceDir, devicesRoot),
                                     &device.HasFriendlyName);
    // The port object opens what ExtractPortName reads out of the full name; where
    // that is another name ("comm0" out of "(rfcomm0)") the device has no port name.
    if (ExtractPortName(device.FullName) == kernelName) device.PortName = kernelName;
    device.Node = kernelName;
    device.DevicePath = devRoot + u'/' + kernelName;
    device.Kind = usb.found ? TSerialPortKind::Usb
                  : isUart  ? TSerialPortKind::Builtin
                            : TSerialPortKind::Other;
    if (usb.found) {
        device.Manufacturer = CleanDeviceText(usb.Manufacturer);
        device.VendorId = usb.VendorId;
        device.ProductId = usb.ProductId;
        device.SerialNumber = CleanDeviceText(usb.Serial);
        device.InterfaceNumber = usb.InterfaceNumber;
        device.UsbPath = usb.InterfaceDir;
    }
    device.ByIdLink = LinkTo(devRoot + QStringLiteral("/serial/by-id"), device.DevicePath);
    device.ByPathLink = LinkTo(devRoot + QStringLiteral("/serial/by-path"), device.DevicePath);
    *info = device;
    return true;
}

QList<TSerialDeviceInfo> EnumClassDevices(const QString& sysRoot, const TVirtualPorts* virtualPorts,
                                          const QString& devRoot)
{
    QList<TSerialDeviceInfo> devices;
    // Directory order in sysfs means nothing; a stable order keeps the first listed
    // (selected) port the same from one rebuild to the next.
    QStringList names =
        QDir(sysRoot + QStringLiteral("/class/tty"))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const QString& name : std::as_const(names)) {
        TSerialDeviceInfo device;
        if (ReadSerialDevice(sysRoot, name, &device, devRoot)) devices += device;
    }
    if (virtualPorts != nullptr) devices += virtualPorts->PresentDevices();
    return devices;
}
