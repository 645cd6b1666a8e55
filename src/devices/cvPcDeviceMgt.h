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

    bool operator==(const TSerialDeviceInfo&) const = default;
};

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
QList<TSerialDeviceInfo> EnumClassDevices(const QString& sysRoot = QStringLiteral("/sys"),
                                          const TVirtualPorts* virtualPorts = nullptr);

// One tty of <sysRoot>/class/tty; false when it is no serial port (no device, no
// UART behind the slot, a name no /dev node can have).
bool ReadSerialDevice(const QString& sysRoot, const QString& kernelName, TSerialDeviceInfo* info);

QStringList FullNamesOf(const QList<TSerialDeviceInfo>& devices);

// Positions of the full names whose port name is exactly portName: "ttyUSB1" never
// finds "... (ttyUSB10)". Nothing for an empty portName.
QList<qsizetype> FindPortEntries(const QStringList& fullNames, const QString& portName);

// Kernel tty names in the order people count them: ttyS2 < ttyS10 < ttyUSB0.
bool NaturalLess(const QString& a, const QString& b);
