#include "SysfsFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FixturePort usbSerial(const QString& name, const FixtureUsb& usb)
{
    FixturePort port;
    port.kind = FixturePort::Kind::UsbSerial;
    port.name = name;
    port.usb = usb;
    return port;
}

FixturePort acm(const QString& name, const FixtureUsb& usb)
{
    FixturePort port = usbSerial(name, usb);
    port.kind = FixturePort::Kind::Acm;
    return port;
}

FixturePort uart(FixturePort::Kind kind, const QString& name, int type, quint64 portAddress)
{
    FixturePort port;
    port.kind = kind;
    port.name = name;
    port.uartType = type;
    port.uartPort = portAddress;
    return port;
}

FixturePort unbound(const QString& name)
{
    FixturePort port;
    port.kind = FixturePort::Kind::Unbound;
    port.name = name;
    return port;
}

FixturePort console(const QString& name)
{
    FixturePort port;
    port.kind = FixturePort::Kind::Console;
    port.name = name;
    return port;
}

bool SysfsFixture::write(const QString& path, const QByteArray& data)
{
    if (!QDir().mkpath(QFileInfo(path).path())) return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// Relative, as in sysfs, so the tree can be moved.
bool SysfsFixture::link(const QString& linkPath, const QString& targetPath)
{
    const QString linkDir = QFileInfo(linkPath).path();
    if (!QDir().mkpath(linkDir)) return false;
    QFile::remove(linkPath);
    return QFile::link(QDir(linkDir).relativeFilePath(targetPath), linkPath);
}

bool SysfsFixture::device(const QString& dir, const QString& bus, const QByteArray& driver)
{
    if (!QDir().mkpath(dir)) return false;
    const QString busDir = FRoot + QStringLiteral("/bus/") + bus;
    bool ok = link(dir + QStringLiteral("/subsystem"), busDir);
    if (!driver.isEmpty()) {
        const QString driverDir = busDir + QStringLiteral("/drivers/") + QString::fromUtf8(driver);
        ok = ok && QDir().mkpath(driverDir) && link(dir + QStringLiteral("/driver"), driverDir);
    }
    return ok;
}

bool SysfsFixture::tty(const QString& ttyDir, const QString& name, const QString& deviceDir)
{
    bool ok =
        write(ttyDir + QStringLiteral("/dev"), "188:0\n") &&
        write(ttyDir + QStringLiteral("/uevent"), "MAJOR=188\nMINOR=0\nDEVNAME=" + name.toUtf8() + '\n') &&
        link(ttyDir + QStringLiteral("/subsystem"), FRoot + QStringLiteral("/class/tty"));
    if (!deviceDir.isEmpty()) ok = ok && link(ttyDir + QStringLiteral("/device"), deviceDir);
    return ok && link(FRoot + QStringLiteral("/class/tty/") + name, ttyDir);
}

bool SysfsFixture::usbDevice(const FixtureUsb& usb, QString* interfaceDir)
{
    const QString hub = FRoot + QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1");
    const QString dev = hub + u'/' + usb.busPath;
    *interfaceDir = dev + u'/' + usb.busPath + QStringLiteral(":1.") + QString::number(usb.interfaceNumber);
    // The root hub is a USB device with strings of its own: the walk must stop below it.
    bool ok = device(hub, QStringLiteral("usb"), "usb") &&
              write(hub + QStringLiteral("/idVendor"), "1d6b\n") &&
              write(hub + QStringLiteral("/idProduct"), "0002\n") &&
              write(hub + QStringLiteral("/product"), "xHCI Host Controller\n") &&
              device(dev, QStringLiteral("usb"), "usb") &&
              write(dev + QStringLiteral("/idVendor"), usb.vendorId + '\n') &&
              write(dev + QStringLiteral("/idProduct"), usb.productId + '\n') &&
              device(*interfaceDir, QStringLiteral("usb"), usb.driver) &&
              write(*interfaceDir + QStringLiteral("/bInterfaceNumber"),
                    QByteArray::number(usb.interfaceNumber).rightJustified(2, '0') + '\n');
    if (usb.product) ok = ok && write(dev + QStringLiteral("/product"), *usb.product);
    if (usb.manufacturer) ok = ok && write(dev + QStringLiteral("/manufacturer"), *usb.manufacturer);
    if (usb.serial) ok = ok && write(dev + QStringLiteral("/serial"), *usb.serial);
    if (usb.interfaceText) ok = ok && write(*interfaceDir + QStringLiteral("/interface"), *usb.interfaceText);
    return ok;
}

bool SysfsFixture::Add(const FixturePort& port)
{
    using K = FixturePort::Kind;
    const QString devices = FRoot + QStringLiteral("/devices");
    const QByteArray portText = "0x" + QByteArray::number(port.uartPort, 16).toUpper() + '\n';
    QString iface;
    switch (port.kind) {
    case K::UsbSerial: {
        if (!usbDevice(port.usb, &iface)) return false;
        const QString serialPort = iface + u'/' + port.name;
        return device(serialPort, QStringLiteral("usb-serial"), port.usb.driver) &&
               tty(serialPort + QStringLiteral("/tty/") + port.name, port.name, serialPort);
    }
    case K::Acm:
        return usbDevice(port.usb, &iface) &&
               tty(iface + QStringLiteral("/tty/") + port.name, port.name, iface);
    case K::UartBase: {
        const QString number = port.name.mid(4);
        const QString pnp = devices + QStringLiteral("/pnp0/00:0") + number;
        const QString ctrl = pnp + u'/' + QFileInfo(pnp).fileName() + QStringLiteral(":0");
        const QString portDev = ctrl + u'/' + QFileInfo(ctrl).fileName() + QStringLiteral(".0");
        const QString ttyDir = portDev + QStringLiteral("/tty/") + port.name;
        return device(pnp, QStringLiteral("pnp"), "serial") &&
               device(ctrl, QStringLiteral("serial-base"), "ctrl") &&
               device(portDev, QStringLiteral("serial-base"), "port") && tty(ttyDir, port.name, portDev) &&
               write(ttyDir + QStringLiteral("/type"), QByteArray::number(port.uartType) + '\n') &&
               write(ttyDir + QStringLiteral("/port"), portText) &&
               write(ttyDir + QStringLiteral("/irq"), "4\n");
    }
    case K::UartPlain:
    case K::UartNoType: {
        const QString platform = devices + QStringLiteral("/platform/serial8250");
        const QString ttyDir = platform + QStringLiteral("/tty/") + port.name;
        bool ok = device(platform, QStringLiteral("platform"), "serial8250") &&
                  tty(ttyDir, port.name, platform) && write(ttyDir + QStringLiteral("/port"), portText) &&
                  write(ttyDir + QStringLiteral("/iomem_base"), "0x0\n") &&
                  write(ttyDir + QStringLiteral("/irq"), "0\n");
        if (port.kind == K::UartPlain)
            ok = ok && write(ttyDir + QStringLiteral("/type"), QByteArray::number(port.uartType) + '\n');
        return ok;
    }
    case K::Unbound: {
        const QString conn = devices + QStringLiteral("/virtual/bluetooth/hci0/hci0:12");
        return device(conn, QStringLiteral("bluetooth"), QByteArray()) &&
               tty(conn + QStringLiteral("/tty/") + port.name, port.name, conn);
    }
    case K::Console: return tty(devices + QStringLiteral("/virtual/tty/") + port.name, port.name, QString());
    }
    return false;
}

bool SysfsFixture::Add(const QList<FixturePort>& ports)
{
    for (const FixturePort& port : ports)
        if (!Add(port)) return false;
    return true;
}

bool SysfsFixture::Remove(const QString& name)
{
    const QString classLink = FRoot + QStringLiteral("/class/tty/") + name;
    const QString ttyDir = QFileInfo(classLink).canonicalFilePath();
    return !ttyDir.isEmpty() && QDir(ttyDir).removeRecursively() && QFile::remove(classLink);
}
