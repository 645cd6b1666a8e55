#pragma once

// A sysfs tree in a temporary folder, shaped like the kernel's: class/tty links into
// devices/, USB devices with their interfaces, UARTs with and without serial-base
// devices, driver and subsystem links into bus/.

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

struct FixtureUsb {
    QString busPath = QStringLiteral("1-1"); // the USB device below the root hub usb1
    int interfaceNumber = 0;
    std::optional<QByteArray> product;
    std::optional<QByteArray> interfaceText;
    std::optional<QByteArray> manufacturer;
    std::optional<QByteArray> serial;
    QByteArray vendorId = "0403";
    QByteArray productId = "6001";
    QByteArray driver = "ftdi_sio";
};

struct FixturePort {
    enum class Kind {
        UsbSerial,  // ttyUSBn below a usb-serial port device
        Acm,        // ttyACMn right below the USB interface
        UartBase,   // UART below serial-base devices (Linux 6.5 and later), PnP driver "serial"
        UartPlain,  // UART right below the platform device serial8250
        UartNoType, // like UartPlain, without the type attribute: port and iomem_base only
        Unbound,    // a tty whose device has no driver (rfcomm0 on a Bluetooth link)
        Console,    // a virtual tty: no device link
    };
    Kind kind = Kind::UsbSerial;
    QString name;
    FixtureUsb usb;
    int uartType = 4; // 0: nothing behind the slot
    quint64 uartPort = 0x3F8;
};

Q_DECLARE_METATYPE(FixturePort)

FixturePort usbSerial(const QString& name, const FixtureUsb& usb = {});
FixturePort acm(const QString& name, const FixtureUsb& usb);
FixturePort uart(FixturePort::Kind kind, const QString& name, int type = 4, quint64 port = 0x3F8);
FixturePort unbound(const QString& name);
FixturePort console(const QString& name);

class SysfsFixture {
public:
    explicit SysfsFixture(const QString& root) : FRoot(root) {}

    QString Root() const { return FRoot; }
    // False when a file or link could not be made.
    bool Add(const FixturePort& port);
    bool Add(const QList<FixturePort>& ports);
    // Gone as when the kernel deletes the device: the class link and the tty folder.
    bool Remove(const QString& name);

private:
    bool write(const QString& path, const QByteArray& data);
    bool link(const QString& linkPath, const QString& targetPath);
    bool device(const QString& dir, const QString& bus, const QByteArray& driver);
    bool tty(const QString& ttyDir, const QString& name, const QString& deviceDir);
    bool usbDevice(const FixtureUsb& usb, QString* interfaceDir);

    QString FRoot;
};
