#include "CvCodecs.h"
#include "SysfsFixture.h"
#include "cvPcDeviceMgt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using K = FixturePort::Kind;
using Ports = QList<FixturePort>;

namespace {

FixtureUsb withProduct(const QByteArray& product)
{
    FixtureUsb usb;
    usb.product = product;
    return usb;
}

} // namespace

class TestDeviceNames : public QObject {
    Q_OBJECT

private slots:
    void enumClassDevices_data();
    void enumClassDevices();
    void deviceDetails_data();
    void deviceDetails();
    void descriptorText_data();
    void descriptorText();
    void cleanDeviceText_data();
    void cleanDeviceText();
    void findPortEntries_data();
    void findPortEntries();
    void usbIdentity_data();
    void usbIdentity();
    void sameDevice_data();
    void sameDevice();
    void listText();
    void missingRoot();
    void thisMachine();
};

void TestDeviceNames::enumClassDevices_data()
{
    QTest::addColumn<Ports>("ports");
    QTest::addColumn<QStringList>("fullNames");

    QTest::newRow("empty tree") << Ports{} << QStringList{};
    QTest::newRow("virtual ttys only")
        << Ports{console(u"tty0"_s), console(u"console"_s), console(u"ptmx"_s)} << QStringList{};
    QTest::newRow("USB product string") << Ports{usbSerial(u"ttyUSB0"_s, withProduct("FT232R USB UART\n"))}
                                        << QStringList{u"FT232R USB UART (ttyUSB0)"_s};

    FixtureUsb cp2105 = withProduct("CP2105 Dual USB to UART Bridge Controller\n");
    cp2105.interfaceText = "Enhanced COM Port\n";
    QTest::newRow("interface string before product")
        << Ports{usbSerial(u"ttyUSB0"_s, cp2105)} << QStringList{u"Enhanced COM Port (ttyUSB0)"_s};
    FixtureUsb blankInterface = withProduct("Dual RS232-HS\n");
    blankInterface.interfaceText = " \n";
    QTest::newRow("blank interface string")
        << Ports{usbSerial(u"ttyUSB0"_s, blankInterface)} << QStringList{u"Dual RS232-HS (ttyUSB0)"_s};

    FixtureUsb dual = withProduct("Dual RS232-HS\n");
    FixtureUsb dualB = dual;
    dualB.interfaceNumber = 1;
    QTest::newRow("two ports of one adapter")
        << Ports{usbSerial(u"ttyUSB0"_s, dual), usbSerial(u"ttyUSB1"_s, dualB)}
        << QStringList{u"Dual RS232-HS (ttyUSB0)"_s, u"Dual RS232-HS (ttyUSB1)"_s};

    FixtureUsb acmNoStrings;
    acmNoStrings.busPath = u"1-2"_s;
    acmNoStrings.driver = "cdc_acm";
    QTest::newRow("ACM without strings: driver description")
        << Ports{acm(u"ttyACM0"_s, acmNoStrings)} << QStringList{u"USB Serial Device (ttyACM0)"_s};
    FixtureUsb pl2303;
    pl2303.driver = "pl2303";
    QTest::newRow("adapter without strings: driver name")
        << Ports{usbSerial(u"ttyUSB3"_s, pl2303)} << QStringList{u"pl2303 (ttyUSB3)"_s};

    QTest::newRow("UART below serial-base devices")
        << Ports{uart(K::UartBase, u"ttyS0"_s)} << QStringList{u"Serial Port (ttyS0)"_s};
    QTest::newRow("UART on the platform device")
        << Ports{uart(K::UartPlain, u"ttyS2"_s)} << QStringList{u"Serial Port (ttyS2)"_s};
    QTest::newRow("empty UART slots left out")
        << Ports{uart(K::UartBase, u"ttyS0"_s), uart(K::UartPlain, u"ttyS1"_s, 0),
                 uart(K::UartNoType, u"ttyS3"_s, 4, 0), uart(K::UartBase, u"ttyS4"_s, 0)}
        << QStringList{u"Serial Port (ttyS0)"_s};
    QTest::newRow("UART without type attribute but with a port")
        << Ports{uart(K::UartNoType, u"ttyS5"_s, 4, 0x2E8)} << QStringList{u"Serial Port (ttyS5)"_s};
    QTest::newRow("device without driver")
        << Ports{unbound(u"rfcomm0"_s)} << QStringList{u"Unknow (rfcomm0)"_s};

    FixtureUsb second = withProduct("CP2102 USB to UART Bridge Controller\n");
    second.busPath = u"1-3"_s;
    FixtureUsb tenth = second;
    tenth.busPath = u"1-4"_s;
    QTest::newRow("natural order") << Ports{usbSerial(u"ttyUSB10"_s, tenth),
                                            console(u"tty1"_s),
                                            usbSerial(u"ttyUSB1"_s, second),
                                            uart(K::UartBase, u"ttyS0"_s),
                                            usbSerial(u"ttyUSB2"_s, withProduct("FT232R USB UART\n")),
                                            acm(u"ttyACM0"_s, acmNoStrings),
                                            uart(K::UartPlain, u"ttyS10"_s),
                                            uart(K::UartPlain, u"ttyS9"_s)}
                                   << QStringList{u"USB Serial Device (ttyACM0)"_s,
                                                  u"Serial Port (ttyS0)"_s,
                                                  u"Serial Port (ttyS9)"_s,
                                                  u"Serial Port (ttyS10)"_s,
                                                  u"CP2102 USB to UART Bridge Controller (ttyUSB1)"_s,
                                                  u"FT232R USB UART (ttyUSB2)"_s,
                                                  u"CP2102 USB to UART Bridge Controller (ttyUSB10)"_s};
    QTest::newRow("blanks and control characters trimmed")
        << Ports{usbSerial(u"ttyUSB0"_s, withProduct(" \t FT232R\r\nUSB  UART\x07\n"))}
        << QStringList{u"FT232R USB UART (ttyUSB0)"_s};
}

void TestDeviceNames::enumClassDevices()
{
    QFETCH(Ports, ports);
    QFETCH(QStringList, fullNames);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SysfsFixture sys(dir.path());
    QVERIFY(sys.Add(ports));

    const QList<TSerialDeviceInfo> devices = EnumClassDevices(sys.Root());
    QCOMPARE(FullNamesOf(devices), fullNames);
    for (const TSerialDeviceInfo& device : devices) {
        QCOMPARE(device.PortName, device.Node);
        QVERIFY(device.FullName.endsWith(u" ("_s + device.Node + u')'));
    }
}

void TestDeviceNames::deviceDetails_data()
{
    QTest::addColumn<FixturePort>("port");
    QTest::addColumn<TSerialDeviceInfo>("expected");

    FixtureUsb ftdi = withProduct("FT232R USB UART\n");
    ftdi.manufacturer = "FTDI\n";
    QTest::newRow("USB adapter") << usbSerial(u"ttyUSB0"_s, ftdi)
                                 << TSerialDeviceInfo{u"FT232R USB UART (ttyUSB0)"_s,
                                                      u"ttyUSB0"_s,
                                                      u"ttyUSB0"_s,
                                                      u"/dev/ttyUSB0"_s,
                                                      TSerialPortKind::Usb,
                                                      true,
                                                      u"FTDI"_s,
                                                      0x0403,
                                                      0x6001};
    FixtureUsb acmNoStrings;
    acmNoStrings.driver = "cdc_acm";
    acmNoStrings.vendorId = "2341";
    acmNoStrings.productId = "0043";
    QTest::newRow("USB device named by its driver") << acm(u"ttyACM0"_s, acmNoStrings)
                                                    << TSerialDeviceInfo{u"USB Serial Device (ttyACM0)"_s,
                                                                         u"ttyACM0"_s,
                                                                         u"ttyACM0"_s,
                                                                         u"/dev/ttyACM0"_s,
                                                                         TSerialPortKind::Usb,
                                                                         false,
                                                                         QString(),
                                                                         0x2341,
                                                                         0x0043};
    QTest::newRow("UART") << uart(K::UartBase, u"ttyS0"_s)
                          << TSerialDeviceInfo{u"Serial Port (ttyS0)"_s,
                                               u"ttyS0"_s,
                                               u"ttyS0"_s,
                                               u"/dev/ttyS0"_s,
                                               TSerialPortKind::Builtin,
                                               false,
                                               QString(),
                                               0,
                                               0};
    // Like a parallel port among the ports: listed, with no port name to open it by.
    QTest::newRow("rfcomm, no driver") << unbound(u"rfcomm0"_s)
                                       << TSerialDeviceInfo{u"Unknow (rfcomm0)"_s,
                                                            u"rfcomm0"_s,
                                                            u"rfcomm0"_s,
                                                            u"/dev/rfcomm0"_s,
                                                            TSerialPortKind::Other,
                                                            false,
                                                            QString(),
                                                            0,
                                                            0};
}

void TestDeviceNames::deviceDetails()
{
    QFETCH(FixturePort, port);
    QFETCH(TSerialDeviceInfo, expected);
    QTemporaryDir dir;
    SysfsFixture sys(dir.path());
    QVERIFY(sys.Add(port));

    TSerialDeviceInfo device;
    QVERIFY(ReadSerialDevice(sys.Root(), port.name, &device));
    QCOMPARE(device.FullName, expected.FullName);
    QCOMPARE(device.PortName, expected.PortName);
    QCOMPARE(device.Node, expected.Node);
    QCOMPARE(device.DevicePath, expected.DevicePath);
    QCOMPARE(device.Kind, expected.Kind);
    QCOMPARE(device.HasFriendlyName, expected.HasFriendlyName);
    QCOMPARE(device.Manufacturer, expected.Manufacturer);
    QCOMPARE(device.VendorId, expected.VendorId);
    QCOMPARE(device.ProductId, expected.ProductId);
}

// Whoever built the device wrote its descriptors: the name must stay readable, keep
// its port name, and make a file name that stays in the settings folder.
void TestDeviceNames::descriptorText_data()
{
    QTest::addColumn<QByteArray>("product");
    QTest::addColumn<QString>("fullName");

    const QString ellipsis = u"…"_s;
    QTest::newRow("parent folders") << QByteArray("../../x\n") << u"../../x (ttyUSB0)"_s;
    QTest::newRow("absolute path") << QByteArray("/etc/passwd") << u"/etc/passwd (ttyUSB0)"_s;
    QTest::newRow("only dots") << QByteArray("..") << u".. (ttyUSB0)"_s;
    QTest::newRow("terminal escapes and bell")
        << QByteArray("\x1b[31mRED\x07 Port") << u"[31mRED Port (ttyUSB0)"_s;
    QTest::newRow("line breaks inside")
        << QByteArray("Line1\r\nLine2\nLine3") << u"Line1 Line2 Line3 (ttyUSB0)"_s;
    QTest::newRow("NUL bytes") << QByteArray("Evil\0Name", 9) << u"Evil Name (ttyUSB0)"_s;
    QTest::newRow("bidi override") << QByteArray("abc\xe2\x80\xaetxt.exe") << u"abctxt.exe (ttyUSB0)"_s;
    QTest::newRow("invalid UTF-8") << QByteArray("Bad\xff\xfe\xc3 UART") << u"Bad\uFFFD UART (ttyUSB0)"_s;
    QTest::newRow("UTF-8 kept") << QByteArray("科万 Ünïcode ✓ 😀") << u"科万 Ünïcode ✓ 😀 (ttyUSB0)"_s;
    QTest::newRow("4 KB without blanks")
        << QByteArray(4096, 'A') << QString(127, u'A') + ellipsis + u" (ttyUSB0)"_s;
    QTest::newRow("4 KB of words") << QByteArray("word ").repeated(820)
                                   << QStringList(25, u"word"_s).join(u' ') + ellipsis + u" (ttyUSB0)"_s;
    QTest::newRow("COM and PID inside")
        << QByteArray("RAPID COM7 (COM3)") << u"RAPID COM7 (COM3) (ttyUSB0)"_s;
    QTest::newRow("parentheses to fake a port") << QByteArray("x (ttyS0)") << u"x (ttyS0) (ttyUSB0)"_s;
}

void TestDeviceNames::descriptorText()
{
    QFETCH(QByteArray, product);
    QFETCH(QString, fullName);
    QTemporaryDir dir;
    SysfsFixture sys(dir.path() + u"/sys"_s);
    QVERIFY(sys.Add(usbSerial(u"ttyUSB0"_s, withProduct(product))));

    TSerialDeviceInfo device;
    QVERIFY(ReadSerialDevice(sys.Root(), u"ttyUSB0"_s, &device));
    QCOMPARE(device.FullName, fullName);
    QCOMPARE(device.PortName, u"ttyUSB0"_s);

    const QString settingDir = dir.path() + u"/Setting"_s;
    QVERIFY(QDir().mkpath(settingDir));
    const QString path = settingDir + u'/' + SafeFileNamePart(device.FullName) + u".ini"_s;
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.close();
    QCOMPARE(QFileInfo(path).canonicalPath(), QFileInfo(settingDir).canonicalFilePath());
    QCOMPARE(QDir(settingDir).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(path).fileName()});
}

void TestDeviceNames::cleanDeviceText_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("clean");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("sysfs newline") << QByteArray("FT232R USB UART\n") << u"FT232R USB UART"_s;
    QTest::newRow("blanks only") << QByteArray(" \t\r\n\v") << QString();
    QTest::newRow("blank runs") << QByteArray("a  \t b") << u"a b"_s;
    QTest::newRow("no-break and ideographic space") << QByteArray("a\xc2\xa0\xe3\x80\x80z") << u"a z"_s;
    QTest::newRow("line separator") << QByteArray("a\xe2\x80\xa8z") << u"a z"_s;
    QTest::newRow("zero-width space dropped") << QByteArray("a\xe2\x80\x8bz") << u"az"_s;
    QTest::newRow("noncharacter dropped") << QByteArray("a\xef\xbf\xbez") << u"az"_s;
    QTest::newRow("DEL and C1") << QByteArray("a\x7f\xc2\x85z") << u"a z"_s;
    QTest::newRow("one mark per undecodable run") << QByteArray("\xff\xff\xff") << u"\uFFFD"_s;
    QTest::newRow("encoded surrogate") << QByteArray("a\xed\xa0\x80z") << u"a\uFFFDz"_s;
    QTest::newRow("cut at the page") << QByteArray(4095, ' ') + "ab" << u"a"_s;
    QTest::newRow("128 characters kept") << QByteArray(128, 'x') << QString(128, u'x');
    QTest::newRow("129 characters cut") << QByteArray(129, 'x') << QString(127, u'x') + u"…"_s;
    QTest::newRow("cut at the last blank near the limit")
        << QByteArray(120, 'x') + " yyyyyyyyyyyyyyy" << QString(120, u'x') + u"…"_s;
    QTest::newRow("blank too far back") << QByteArray(90, 'x') + " " + QByteArray(60, 'y')
                                        << QString(90, u'x') + u' ' + QString(36, u'y') + u"…"_s;
    QTest::newRow("emoji not split") << QByteArray(126, 'x') + "\xf0\x9f\x98\x80\xf0\x9f\x98\x80"
                                     << QString(126, u'x') + u"…"_s;
}

void TestDeviceNames::cleanDeviceText()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, clean);
    QCOMPARE(CleanDeviceText(raw), clean);
    QCOMPARE(CleanDeviceText(clean.toUtf8()), clean);
}

// The COM3/COM30 rule of the removal broadcast, on Linux names.
void TestDeviceNames::findPortEntries_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QList<qsizetype>>("entries");

    QTest::newRow("ttyUSB1 is not ttyUSB10") << u"ttyUSB1"_s << QList<qsizetype>{0};
    QTest::newRow("ttyUSB10") << u"ttyUSB10"_s << QList<qsizetype>{1};
    QTest::newRow("same port, two adapters seen") << u"ttyACM0"_s << QList<qsizetype>{2, 4};
    QTest::newRow("prefix only") << u"ttyUSB"_s << QList<qsizetype>{};
    QTest::newRow("tail only") << u"USB1"_s << QList<qsizetype>{};
    QTest::newRow("empty port name") << QString() << QList<qsizetype>{};
    QTest::newRow("virtual port") << u"/dev/pts/3"_s << QList<qsizetype>{5};
    QTest::newRow("not a prefix of a path") << u"/dev/pts/31"_s << QList<qsizetype>{};
}

void TestDeviceNames::findPortEntries()
{
    QFETCH(QString, portName);
    QFETCH(QList<qsizetype>, entries);
    const QStringList known{
        u"FT232R USB UART (ttyUSB1)"_s,   u"CP2102 USB to UART Bridge Controller (ttyUSB10)"_s,
        u"Arduino Uno (ttyACM0)"_s,       u"Unknow (rfcomm0)"_s,
        u"USB Serial Device (ttyACM0)"_s, u"Virtual Port (/dev/pts/3)"_s};
    QCOMPARE(FindPortEntries(known, portName), entries);
}

void TestDeviceNames::usbIdentity_data()
{
    QTest::addColumn<FixturePort>("port");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("interfaceNumber");
    QTest::addColumn<QString>("usbPath");

    FixtureUsb dual = withProduct("Dual RS232-HS\n");
    dual.busPath = u"3-2.4"_s;
    dual.interfaceNumber = 1;
    dual.serial = "FT4NQ1A7\n";
    dual.vendorId = "0403";
    dual.productId = "6010";
    QTest::newRow("second port of a dual adapter")
        << usbSerial(u"ttyUSB1"_s, dual) << u"FT4NQ1A7"_s << 1 << u"3-2.4:1.1"_s;
    FixtureUsb ch340 = withProduct("USB Serial\n");
    ch340.busPath = u"1-3"_s;
    ch340.vendorId = "1a86";
    ch340.productId = "7523";
    ch340.driver = "ch341";
    QTest::newRow("no serial number") << usbSerial(u"ttyUSB0"_s, ch340) << QString() << 0 << u"1-3:1.0"_s;
    FixtureUsb board;
    board.driver = "cdc_acm";
    board.serial = "E6614C311B2F8C2A\n";
    board.interfaceNumber = 2;
    QTest::newRow("ACM with a serial number")
        << acm(u"ttyACM0"_s, board) << u"E6614C311B2F8C2A"_s << 2 << u"1-1:1.2"_s;
    // Whoever built the device wrote the string.
    FixtureUsb odd = withProduct("X\n");
    odd.serial = QByteArray("A1\x01\n\xff", 5);
    QTest::newRow("serial number with control bytes")
        << usbSerial(u"ttyUSB2"_s, odd) << u"A1 \uFFFD"_s << 0 << u"1-1:1.0"_s;
    QTest::newRow("UART: none of it") << uart(K::UartBase, u"ttyS0"_s) << QString() << -1 << QString();
}

void TestDeviceNames::usbIdentity()
{
    QFETCH(FixturePort, port);
    QFETCH(QString, serial);
    QFETCH(int, interfaceNumber);
    QFETCH(QString, usbPath);
    QTemporaryDir dir;
    SysfsFixture sys(dir.path() + u"/sys"_s);
    QVERIFY(sys.Add(port));
    // udev's links, relative as udev makes them, and one to another device.
    const QString dev = dir.path() + u"/dev"_s;
    QVERIFY(QDir().mkpath(dev + u"/serial/by-id"_s) && QDir().mkpath(dev + u"/serial/by-path"_s));
    const QString byId = dev + u"/serial/by-id/usb-Maker_Thing_1234-if00-port0"_s;
    const QString byPath = dev + u"/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0"_s;
    QVERIFY(QFile::link(u"../../"_s + port.name, byId));
    QVERIFY(QFile::link(u"../../"_s + port.name, byPath));
    QVERIFY(QFile::link(u"../../ttyUSB9"_s, dev + u"/serial/by-id/usb-Other_9-if00-port0"_s));

    TSerialDeviceInfo device;
    QVERIFY(ReadSerialDevice(sys.Root(), port.name, &device, dev));
    QCOMPARE(device.SerialNumber, serial);
    QCOMPARE(device.InterfaceNumber, interfaceNumber);
    QCOMPARE(device.UsbPath, usbPath);
    QCOMPARE(device.DevicePath, dev + u'/' + port.name);
    QCOMPARE(device.ByIdLink, byId);
    QCOMPARE(device.ByPathLink, byPath);
    QCOMPARE(EnumClassDevices(sys.Root(), nullptr, dev), QList<TSerialDeviceInfo>{device});
    // Without links (a machine without udev) nothing is made up.
    QVERIFY(ReadSerialDevice(sys.Root(), port.name, &device));
    QCOMPARE(device.ByIdLink, QString());
    QCOMPARE(device.DevicePath, u"/dev/"_s + port.name);
}

void TestDeviceNames::sameDevice_data()
{
    QTest::addColumn<TSerialDeviceInfo>("known");
    QTest::addColumn<TSerialDeviceInfo>("seen");
    QTest::addColumn<bool>("same");

    const auto usb = [](const QString& node, const char* serial, int interfaceNumber, const QString& path) {
        TSerialDeviceInfo d;
        d.FullName = u"FT232R USB UART (%1)"_s.arg(node);
        d.Node = node;
        d.Kind = TSerialPortKind::Usb;
        d.VendorId = 0x0403;
        d.ProductId = 0x6001;
        d.SerialNumber = QString::fromLatin1(serial);
        d.InterfaceNumber = interfaceNumber;
        d.UsbPath = path;
        return d;
    };
    const TSerialDeviceInfo a0 = usb(u"ttyUSB0"_s, "A1", 0, u"1-1:1.0"_s);
    QTest::newRow("back under another name") << a0 << usb(u"ttyUSB1"_s, "A1", 0, u"1-2:1.0"_s) << true;
    QTest::newRow("another adapter of the model, same name")
        << a0 << usb(u"ttyUSB0"_s, "B2", 0, u"1-1:1.0"_s) << false;
    QTest::newRow("the other port of a dual adapter")
        << a0 << usb(u"ttyUSB1"_s, "A1", 1, u"1-1:1.1"_s) << false;
    TSerialDeviceInfo other = usb(u"ttyUSB1"_s, "A1", 0, u"1-2:1.0"_s);
    other.ProductId = 0x6015;
    QTest::newRow("same serial, other product") << a0 << other << false;
    const TSerialDeviceInfo n0 = usb(u"ttyUSB0"_s, "", 0, u"1-1:1.0"_s);
    QTest::newRow("no serial: same socket, other name")
        << n0 << usb(u"ttyUSB3"_s, "", 0, u"1-1:1.0"_s) << true;
    QTest::newRow("no serial: other socket, same name")
        << n0 << usb(u"ttyUSB0"_s, "", 0, u"1-4:1.0"_s) << false;
    QTest::newRow("no serial: one with a serial in the socket")
        << n0 << usb(u"ttyUSB0"_s, "C3", 0, u"1-1:1.0"_s) << false;
    TSerialDeviceInfo uart;
    uart.FullName = u"Serial Port (ttyS0)"_s;
    uart.Node = u"ttyS0"_s;
    uart.Kind = TSerialPortKind::Builtin;
    QTest::newRow("nothing but a name: by the name") << uart << uart << true;
    TSerialDeviceInfo renamed = uart;
    renamed.FullName = u"Serial Port (ttyS1)"_s;
    QTest::newRow("nothing but a name: another name") << uart << renamed << false;
}

void TestDeviceNames::sameDevice()
{
    QFETCH(TSerialDeviceInfo, known);
    QFETCH(TSerialDeviceInfo, seen);
    QFETCH(bool, same);
    QCOMPARE(SameDevice(known, seen), same);
}

// What `corvane --list` prints for the serial ports of a sysfs tree.
void TestDeviceNames::listText()
{
    QTemporaryDir dir;
    SysfsFixture sys(dir.path() + u"/sys"_s);
    FixtureUsb ftdi = withProduct("FT232R USB UART\n");
    ftdi.serial = "A50285 BI\n";
    QVERIFY(sys.Add({usbSerial(u"ttyUSB0"_s, ftdi), uart(K::UartBase, u"ttyS0"_s)}));
    const QString dev = dir.path() + u"/dev"_s;
    QVERIFY(QDir().mkpath(dev + u"/serial/by-id"_s));
    QVERIFY(QFile::link(u"../../ttyUSB0"_s,
                        dev + u"/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"_s));
    const QString text = DeviceListText(EnumClassDevices(sys.Root(), nullptr, dev));
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    const QRegularExpression columns(u"^(\\S+) +(\\S+) +(\\S+) +(\\S+) +(.+)$"_s);
    const auto row = [&](int i) { return columns.match(lines[i]).capturedTexts().mid(1); };
    QCOMPARE(row(0), (QStringList{u"PATH"_s, u"USB"_s, u"SERIAL"_s, u"BY-ID"_s, u"NAME"_s}));
    // Natural order: ttyS0 before ttyUSB0. A blank in a serial number does not split its column.
    QCOMPARE(row(1), (QStringList{dev + u"/ttyS0"_s, u"-"_s, u"-"_s, u"-"_s, u"Serial Port (ttyS0)"_s}));
    QCOMPARE(row(2), (QStringList{dev + u"/ttyUSB0"_s, u"0403:6001"_s, u"A50285_BI"_s,
                                  dev + u"/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"_s,
                                  u"FT232R USB UART (ttyUSB0)"_s}));
    // The columns line up.
    QCOMPARE(lines[1].indexOf(u" - "_s), lines[2].indexOf(u" 0403:6001"_s));
    QCOMPARE(DeviceListText({}), u"No serial ports found.\n"_s);
}

void TestDeviceNames::missingRoot()
{
    QTemporaryDir dir;
    QCOMPARE(FullNamesOf(EnumClassDevices(dir.path() + u"/none"_s)), QStringList{});
    TSerialDeviceInfo device;
    QVERIFY(!ReadSerialDevice(dir.path(), u"../ttyS0"_s, &device));
}

// The kernel's own tree, whatever this machine has.
void TestDeviceNames::thisMachine()
{
    const QList<TSerialDeviceInfo> devices = EnumClassDevices();
    for (const TSerialDeviceInfo& device : devices) {
        QVERIFY(device.FullName.endsWith(u" ("_s + device.Node + u')'));
        QCOMPARE(device.DevicePath, u"/dev/"_s + device.Node);
        QVERIFY(!device.FullName.startsWith(u'(') && !device.FullName.startsWith(u' '));
    }
    qInfo() << "serial ports here:" << FullNamesOf(devices);
}

QTEST_GUILESS_MAIN(TestDeviceNames)
#include "tst_devicenames.moc"
