#pragma once

// Serial ports present on the machine: what the device list shows and what the
// open-device manager needs to open, match and name them.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class TVirtualPorts;

enum class TSerialPortKind {
    Builtin, // a UART of the machine (ttyS0, ttyAMA0)
    Usb,     // a USB adapter or a USB device with a serial function
    Other,   // any other tty with a device behind it (rfcomm0)
    Virtual, // added by the user by path
    Network, // added by the user as a network address (its Node and DevicePath are the port name)
};

struct TSerialDeviceInfo {
    QString FullName;   // "FT232R USB UART (ttyUSB0)", "Virtual Port (/dev/pts/3)"
    QString PortName;   // ExtractPortName(FullName) when that names this device, else empty (rfcomm0)
    QString Node;       // kernel name "ttyUSB0", or the path of a virtual port: names hot-plug events
    QString DevicePath; // "/dev/ttyUSB0", or the path of a virtual port
    TSerialPortKind Kind = TSerialPortKind::Other;
    bool HasFriendlyName = false; // named from the USB strings rather than from the driver
    QString Manufacturer;         // USB devices only
    quint16 VendorId = 0;
    quint16 ProductId = 0;
    // What tells this USB device from another of the same model, for reopening the same one:
    QString SerialNumber{};   // the USB serial number string, empty when it has none
    int InterfaceNumber = -1; // the USB interface of the port (a dual adapter has two)
    QString UsbPath{};        // the interface's place on the bus ("1-1.4:1.0"), as by-path names it
    // The links udev makes for the port (/dev/serial/by-id/..., /dev/serial/by-path/...).
    QString ByIdLink{};
    QString ByPathLink{};

    bool operator==(const TSerialDeviceInfo&) const = default;
};

// Whether two sightings are the same device, for a port waiting for its device to come
// back under whatever name: a USB device with a serial number by vendor, product, serial
// number and interface; one without by its place on the bus (vendor and product too);
// anything else by its full name.
bool SameDevice(const TSerialDeviceInfo& known, const TSerialDeviceInfo& seen);
// Whether SameDevice goes by more than the name.
bool HasIdentity(const TSerialDeviceInfo& device);
// "serial number A50285BI", or that there is none, in the language of the messages.
QString SerialNumberText(const TSerialDeviceInfo& device);
// A few lines for the device list's tool tip: the name, the path, the USB ids, serial
// number and the by-id link.
QString DeviceToolTip(const TSerialDeviceInfo& device);
// What `corvane --list` prints: a header and one line per device (path, USB vendor:product,
// serial number, by-id link, name); a line that says so when there is none.
QString DeviceListText(const QList<TSerialDeviceInfo>& devices);

// Longest sysfs attribute read (the kernel's page); longer files are cut here.
inline constexpr qsizetype MaxAttributeBytes = 4096;
// Longest friendly text kept; USB string descriptors hold at most 126 characters.
inline constexpr qsizetype MaxFriendlyChars = 128;
// Description when neither the USB strings nor the driver can be read.
inline constexpr char16_t UnknownDeviceText[] = u"Unknow";

// Descriptor or sysfs text made fit for the device list: invalid UTF-8 shows as one
// U+FFFD per run, control and line-break characters become blanks, invisible format
// characters go, blanks are collapsed and trimmed; text longer than MaxFriendlyChars
// is cut at a word where one is near and ends in "…". Idempotent.
QString CleanDeviceText(QByteArrayView raw);

// Readable description of a kernel driver ("serial8250" -> "Serial Port"); other
// driver names are shown as they are, after CleanDeviceText.
QString DriverDescription(QByteArrayView driverName);

// "<description> (<kernelName>)": the USB interface string, else the USB product
// string, else the driver's description, else "Unknow". *friendly tells whether a
// USB string was used. Raw arguments are the sysfs contents as read.
QString DeviceFullName(const QString& kernelName, QByteArrayView interfaceText, QByteArrayView productText,
                       QByteArrayView driverName, bool* friendly = nullptr);

// Serial ports under <sysRoot>/class/tty: every tty with a device behind it, apart
// from UART slots with no UART, in natural order of their kernel names (ttyS2 before
// ttyS10); then the virtual ports whose paths exist, in the order they were added.
// Device paths and the by-id and by-path links are looked for under devRoot.
QList<TSerialDeviceInfo> EnumClassDevices(const QString& sysRoot = QStringLiteral("/sys"),
                                          const TVirtualPorts* virtualPorts = nullptr,
                                          const QString& devRoot = QStringLiteral("/dev"));

// One tty of <sysRoot>/class/tty; false when it is no serial port (no device, no
// UART behind the slot, a name no /dev node can have).
bool ReadSerialDevice(const QString& sysRoot, const QString& kernelName, TSerialDeviceInfo* info,
                      const QString& devRoot = QStringLiteral("/dev"));

QStringList FullNamesOf(const QList<TSerialDeviceInfo>& devices);

// Positions of the full names whose port name is exactly portName: "ttyUSB1" never
// finds "... (ttyUSB10)". Nothing for an empty portName.
QList<qsizetype> FindPortEntries(const QStringList& fullNames, const QString& portName);

// Kernel tty names in the order people count them: ttyS2 < ttyS10 < ttyUSB0.
bool NaturalLess(const QString& a, const QString& b);
