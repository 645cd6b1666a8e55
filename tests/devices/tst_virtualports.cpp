#include "CvCodecs.h"
#include "IniFile.h"
#include "PtyPair.h"
#include "SysfsFixture.h"
#include "TVirtualPorts.h"
#include "cvPcDeviceMgt.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using R = TVirtualPorts::TAddResult;

namespace {

bool writeAll(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

class TestVirtualPorts : public QObject {
    Q_OBJECT

private slots:
    void add_data();
    void add();
    void persist();
    void load_data();
    void load();
    void unwritableSettings_data();
    void unwritableSettings();
    void vanishingPath();
    void listedAfterHardware();
};

// How the path is made from a live pty: "%1" is its slave path, "%t" a temp folder.
void TestVirtualPorts::add_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<R>("result");
    QTest::addColumn<QString>("listed");

    QTest::newRow("pty") << u"%1"_s << R::Added << u"%1"_s;
    QTest::newRow("blanks and slack around a pty") << u"  %1/./ \n"_s << R::Added << u"%1"_s;
    QTest::newRow("detour through ..") << u"/dev/pts/../pts/%n"_s << R::Added << u"%1"_s;
    QTest::newRow("folder") << u"/dev/pts"_s << R::NotACharDevice << QString();
    QTest::newRow("missing") << u"/dev/corvane-no-such-port"_s << R::NotFound << QString();
    QTest::newRow("relative") << u"dev/pts/%n"_s << R::NotAbsolute << QString();
    QTest::newRow("empty") << QString() << R::Invalid << QString();
    QTest::newRow("control character inside") << u"/dev/pts/\u0001%n"_s << R::Invalid << QString();
    QTest::newRow("longer than a path may be") << u"/dev/"_s + QString(1100, u'a') << R::Invalid << QString();
    QTest::newRow("parentheses") << u"/dev/pts(%n)"_s << R::Unnameable << QString();
    // The port object opens ExtractPortName of the full name: a link outside /dev is
    // taken exactly when that reads the path back.
    QTest::newRow("link outside /dev") << u"%t/ttyV0"_s << R::Added << u"%t/ttyV0"_s;
}

void TestVirtualPorts::add()
{
    QFETCH(QString, path);
    QFETCH(R, result);
    QFETCH(QString, listed);
    PtyPair pty;
    QVERIFY(pty.IsValid());
    QTemporaryDir dir;
    const QString link = dir.path() + u"/ttyV0"_s;
    QVERIFY(QFile::link(pty.SlavePath(), link));
    const auto expand = [&](QString text) {
        return text.replace(u"%1"_s, pty.SlavePath())
            .replace(u"%n"_s, pty.SlavePath().section(u'/', -1))
            .replace(u"%t"_s, dir.path());
    };
    path = expand(path);
    listed = expand(listed);
    if (path == link && ExtractPortName(TVirtualPorts::FullNameOf(link)) != link) {
        result = R::Unnameable;
        listed.clear();
    }

    TVirtualPorts ports(dir.path() + u"/Corvane.ini"_s);
    QCOMPARE(ports.Add(path), result);
    QCOMPARE(ports.Paths(), listed.isEmpty() ? QStringList{} : QStringList{listed});
    if (result == R::Added) QCOMPARE(ports.Add(listed), R::AlreadyListed);
}

void TestVirtualPorts::persist()
{
    PtyPair a;
    PtyPair b;
    QVERIFY(a.IsValid() && b.IsValid());
    QTemporaryDir dir;
    const QString file = dir.path() + u"/Corvane.ini"_s;
    QVERIFY(writeAll(file, "[MyPreference]\r\nTheme=3\r\n[VirtualPorts]\r\nNote=kept\r\n"));

    TVirtualPorts ports(file);
    QVERIFY(ports.Load());
    QCOMPARE(ports.Add(a.SlavePath()), R::Added);
    QCOMPARE(ports.Add(b.SlavePath()), R::Added);
    TVirtualPorts reread(file);
    QVERIFY(reread.Load());
    QCOMPARE(reread.Paths(), (QStringList{a.SlavePath(), b.SlavePath()}));

    QCOMPARE(ports.Remove(u"/dev/pts/../pts/"_s + a.SlavePath().section(u'/', -1)),
             TVirtualPorts::TRemoveResult::Removed);
    QCOMPARE(ports.Remove(a.SlavePath()), TVirtualPorts::TRemoveResult::NotListed);
    QVERIFY(reread.Load());
    QCOMPARE(reread.Paths(), QStringList{b.SlavePath()});

    TIniFile ini;
    QVERIFY(ini.Load(file));
    QCOMPARE(ini.ReadInteger(u"MyPreference"_s, u"Theme"_s, 0), 3);
    QCOMPARE(ini.ReadString(u"VirtualPorts"_s, u"Note"_s), u"kept"_s);
    QCOMPARE(ini.ReadString(u"VirtualPorts"_s, u"Port1"_s), b.SlavePath());
    QCOMPARE(ini.ReadString(u"VirtualPorts"_s, u"Port2"_s, u"stale"_s), QString());
}

void TestVirtualPorts::load_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("paths");

    QTest::newRow("no section") << QByteArray("[MyPreference]\r\nTheme=1\r\n") << QStringList{};
    QTest::newRow("paths need not exist now")
        << QByteArray("[VirtualPorts]\r\nCount=2\r\nPort1=/dev/pts/77\r\nPort2=/dev/tnt0\r\n")
        << QStringList{u"/dev/pts/77"_s, u"/dev/tnt0"_s};
    QTest::newRow("count beyond the keys")
        << QByteArray("[VirtualPorts]\nCount=3\nPort1=/dev/tnt1\n") << QStringList{u"/dev/tnt1"_s};
    QTest::newRow("keys beyond the count")
        << QByteArray("[VirtualPorts]\nCount=1\nPort1=/dev/tnt1\nPort2=/dev/tnt2\n")
        << QStringList{u"/dev/tnt1"_s};
    QTest::newRow("hand-edited entries checked")
        << QByteArray("[virtualports]\ncount=6\nport1=dev/tnt1\nport2=/dev//tnt2/\nport3=/dev/tnt2\n"
                      "port4=/dev/x(1)\nport5=\nport6=/dev/tnt3\n")
        << QStringList{u"/dev/tnt2"_s, u"/dev/tnt3"_s};
    QTest::newRow("huge count") << QByteArray("[VirtualPorts]\nCount=2147483647\nPort1=/dev/tnt1\n")
                                << QStringList{u"/dev/tnt1"_s};
    QTest::newRow("no count") << QByteArray("[VirtualPorts]\nPort1=/dev/tnt1\n") << QStringList{};
}

void TestVirtualPorts::load()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, paths);
    QTemporaryDir dir;
    const QString path = dir.path() + u"/Corvane.ini"_s;
    QVERIFY(writeAll(path, file));
    TVirtualPorts ports(path);
    QVERIFY(ports.Load());
    QCOMPARE(ports.Paths(), paths);
}

void TestVirtualPorts::unwritableSettings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::newRow("folder missing") << u"%t/missing/Corvane.ini"_s;
    QTest::newRow("path is a folder") << u"%t"_s;
}

// The port stays listed for the run; a file that could not be read is not replaced.
void TestVirtualPorts::unwritableSettings()
{
    QFETCH(QString, settings);
    PtyPair pty;
    QTemporaryDir dir;
    settings.replace(u"%t"_s, dir.path());
    TVirtualPorts ports(settings);
    QCOMPARE(ports.Add(pty.SlavePath()), R::NotSaved);
    QCOMPARE(ports.Paths(), QStringList{pty.SlavePath()});
    QCOMPARE(ports.Remove(pty.SlavePath()), TVirtualPorts::TRemoveResult::NotSaved);
    QCOMPARE(ports.Paths(), QStringList{});
}

void TestVirtualPorts::vanishingPath()
{
    PtyPair pty;
    TVirtualPorts ports;
    QCOMPARE(ports.Add(pty.SlavePath()), R::Added);
    const QList<TSerialDeviceInfo> present = ports.PresentDevices();
    QCOMPARE(FullNamesOf(present), QStringList{u"Virtual Port ("_s + pty.SlavePath() + u')'});
    const TSerialDeviceInfo& device = present.first();
    QCOMPARE(device.PortName, pty.SlavePath());
    QCOMPARE(ExtractPortName(device.FullName), pty.SlavePath());
    QCOMPARE(device.Node, pty.SlavePath());
    QCOMPARE(device.DevicePath, pty.SlavePath());
    QCOMPARE(device.Kind, TSerialPortKind::Virtual);

    pty.CloseMaster();
    QCOMPARE(FullNamesOf(ports.PresentDevices()), QStringList{});
    QCOMPARE(ports.Paths(), QStringList{pty.SlavePath()});
}

void TestVirtualPorts::listedAfterHardware()
{
    PtyPair first;
    PtyPair second;
    QTemporaryDir dir;
    SysfsFixture sys(dir.path());
    FixtureUsb ftdi;
    ftdi.product = "FT232R USB UART\n";
    QVERIFY(sys.Add({usbSerial(u"ttyUSB0"_s, ftdi), uart(FixturePort::Kind::UartBase, u"ttyS0"_s)}));

    TVirtualPorts ports;
    QCOMPARE(ports.Add(second.SlavePath()), R::Added);
    QCOMPARE(ports.Add(first.SlavePath()), R::Added);
    QCOMPARE(FullNamesOf(EnumClassDevices(sys.Root(), &ports)),
             (QStringList{u"Serial Port (ttyS0)"_s, u"FT232R USB UART (ttyUSB0)"_s,
                          TVirtualPorts::FullNameOf(second.SlavePath()),
                          TVirtualPorts::FullNameOf(first.SlavePath())}));
}

QTEST_GUILESS_MAIN(TestVirtualPorts)
#include "tst_virtualports.moc"
