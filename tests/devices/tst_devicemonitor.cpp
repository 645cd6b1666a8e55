#include "PtyPair.h"
#include "SysfsFixture.h"
#include "TDeviceMonitor.h"
#include "TUdevEventSource.h"
#include "TVirtualPorts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using K = FixturePort::Kind;
using Ports = QList<FixturePort>;
using TAction = TDeviceEventSource::TAction;

namespace {

// Events as a test dictates them, standing in for udev.
class ScriptedSource final : public TDeviceEventSource {
public:
    explicit ScriptedSource(bool starts) : FStarts(starts) {}
    bool Start() override { return FStarts; }
    void Stop() override {}
    void Send(const QString& event)
    {
        emit DeviceEvent(event.startsWith(u'+') ? TAction::Add : TAction::Remove, event.mid(1));
    }

private:
    bool FStarts;
};

FixturePort adapter(const QString& name, const QString& busPath, const QByteArray& product)
{
    FixtureUsb usb;
    usb.busPath = busPath;
    usb.product = product;
    return usbSerial(name, usb);
}

// "+port" for an arrival, "-port" for a removal, in the order reported.
struct Recorder {
    QStringList log;
    void attach(TDeviceMonitor& monitor)
    {
        QObject::connect(&monitor, &TDeviceMonitor::DeviceArrived, &monitor,
                         [this](const QString& port) { log += u'+' + port; });
        QObject::connect(&monitor, &TDeviceMonitor::DeviceRemoved, &monitor,
                         [this](const QString& port) { log += u'-' + port; });
    }
};

constexpr int kFastRescanMs = 10;
// Several rescans: long enough for a wrong report to show.
constexpr int kQuietMs = 100;

} // namespace

class TestDeviceMonitor : public QObject {
    Q_OBJECT

private slots:
    void rescan_data();
    void rescan();
    void events_data();
    void events();
    void sourceThatCannotStart();
    void udevWithoutDaemon();
    void virtualPorts();
    void resyncReportsNothing();
    void stopEndsReports();

private:
    void changes_data(bool withEvents);
};

void TestDeviceMonitor::changes_data(bool withEvents)
{
    QTest::addColumn<Ports>("initial");
    QTest::addColumn<QStringList>("unplugged");
    QTest::addColumn<Ports>("plugged");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("reported");

    const FixturePort ftdi = adapter(u"ttyUSB0"_s, u"1-1"_s, "FT232R USB UART\n");
    const FixturePort cp2102 = adapter(u"ttyUSB0"_s, u"1-2"_s, "CP2102 USB to UART Bridge Controller\n");
    const FixturePort first = adapter(u"ttyUSB1"_s, u"1-3"_s, "FT232R USB UART\n");
    const FixturePort tenth = adapter(u"ttyUSB10"_s, u"1-4"_s, "FT232R USB UART\n");
    const auto events = [&](const QStringList& list) { return withEvents ? list : QStringList{}; };

    QTest::newRow("adapter plugged in")
        << Ports{} << QStringList{} << Ports{ftdi} << events({u"+ttyUSB0"_s}) << QStringList{u"+ttyUSB0"_s};
    QTest::newRow("adapter unplugged") << Ports{ftdi} << QStringList{u"ttyUSB0"_s} << Ports{}
                                       << events({u"-ttyUSB0"_s}) << QStringList{u"-ttyUSB0"_s};
    QTest::newRow("ttyUSB1 unplugged beside ttyUSB10")
        << Ports{first, tenth} << QStringList{u"ttyUSB1"_s} << Ports{} << events({u"-ttyUSB1"_s})
        << QStringList{u"-ttyUSB1"_s};
    QTest::newRow("ttyUSB10 unplugged beside ttyUSB1")
        << Ports{first, tenth} << QStringList{u"ttyUSB10"_s} << Ports{} << events({u"-ttyUSB10"_s})
        << QStringList{u"-ttyUSB10"_s};
    QTest::newRow("empty UART slot appears")
        << Ports{} << QStringList{} << Ports{uart(K::UartPlain, u"ttyS1"_s, 0)} << events({u"+ttyS1"_s})
        << QStringList{};
    QTest::newRow("UART appears") << Ports{} << QStringList{} << Ports{uart(K::UartBase, u"ttyS0"_s)}
                                  << events({u"+ttyS0"_s}) << QStringList{u"+ttyS0"_s};
    QTest::newRow("virtual tty appears")
        << Ports{} << QStringList{} << Ports{console(u"tty7"_s)} << events({u"+tty7"_s}) << QStringList{};
    QTest::newRow("another adapter under the same name")
        << Ports{ftdi} << QStringList{u"ttyUSB0"_s} << Ports{cp2102} << events({u"+ttyUSB0"_s})
        << QStringList{u"-ttyUSB0"_s, u"+ttyUSB0"_s};
    QTest::newRow("two at once") << Ports{first} << QStringList{u"ttyUSB1"_s} << Ports{tenth, ftdi}
                                 << events({u"-ttyUSB1"_s, u"+ttyUSB0"_s, u"+ttyUSB10"_s})
                                 << QStringList{u"-ttyUSB1"_s, u"+ttyUSB0"_s, u"+ttyUSB10"_s};
    if (!withEvents) return;
    QTest::newRow("removal taken at its word") << Ports{ftdi} << QStringList{} << Ports{}
                                               << QStringList{u"-ttyUSB0"_s} << QStringList{u"-ttyUSB0"_s};
    QTest::newRow("removal of an unknown port")
        << Ports{ftdi} << QStringList{} << Ports{} << QStringList{u"-ttyUSB5"_s} << QStringList{};
    QTest::newRow("arrival of a known port")
        << Ports{ftdi} << QStringList{} << Ports{} << QStringList{u"+ttyUSB0"_s} << QStringList{};
    QTest::newRow("arrival without its sysfs entry")
        << Ports{} << QStringList{} << Ports{} << QStringList{u"+ttyUSB0"_s} << QStringList{};
    QTest::newRow("no rescan while events come")
        << Ports{} << QStringList{} << Ports{ftdi} << QStringList{} << QStringList{};
    QTest::newRow("in and out again")
        << Ports{} << QStringList{} << Ports{ftdi} << QStringList{u"+ttyUSB0"_s, u"-ttyUSB0"_s}
        << QStringList{u"+ttyUSB0"_s, u"-ttyUSB0"_s};
}

void TestDeviceMonitor::rescan_data()
{
    changes_data(false);
}

void TestDeviceMonitor::rescan()
{
    QFETCH(Ports, initial);
    QFETCH(QStringList, unplugged);
    QFETCH(Ports, plugged);
    QFETCH(QStringList, reported);
    QTemporaryDir dir;
    SysfsFixture sys(dir.path());
    QVERIFY(sys.Add(initial));
    TDeviceMonitor monitor(sys.Root());
    Recorder recorder;
    recorder.attach(monitor);
    monitor.SetRescanInterval(kFastRescanMs);
    monitor.Start(nullptr);
    QVERIFY(monitor.RescansHardware());

    for (const QString& name : std::as_const(unplugged)) QVERIFY(sys.Remove(name));
    QVERIFY(sys.Add(plugged));
    QTRY_COMPARE(recorder.log, reported);
    QTest::qWait(kQuietMs);
    QCOMPARE(recorder.log, reported);
}

void TestDeviceMonitor::events_data()
{
    changes_data(true);
}

void TestDeviceMonitor::events()
{
    QFETCH(Ports, initial);
    QFETCH(QStringList, unplugged);
    QFETCH(Ports, plugged);
    QFETCH(QStringList, events);
    QFETCH(QStringList, reported);
    QTemporaryDir dir;
    SysfsFixture sys(dir.path());
    QVERIFY(sys.Add(initial));
    TDeviceMonitor monitor(sys.Root());
    Recorder recorder;
    recorder.attach(monitor);
    auto source = std::make_unique<ScriptedSource>(true);
    ScriptedSource* udev = source.get();
    monitor.SetRescanInterval(kFastRescanMs);
    monitor.Start(std::move(source));
    QVERIFY(!monitor.RescansHardware());

    for (const QString& name : std::as_const(unplugged)) QVERIFY(sys.Remove(name));
    QVERIFY(sys.Add(plugged));
    for (const QString& event : std::as_const(events)) udev->Send(event);
    QCOMPARE(recorder.log, reported);
    QTest::qWait(kQuietMs);
    QCOMPARE(recorder.log, reported);
}

void TestDeviceMonitor::sourceThatCannotStart()
{
    QTemporaryDir dir;
    SysfsFixture sys(dir.path());
    TDeviceMonitor monitor(sys.Root());
    Recorder recorder;
    recorder.attach(monitor);
    monitor.SetRescanInterval(kFastRescanMs);
    monitor.Start(std::make_unique<ScriptedSource>(false));
    QVERIFY(monitor.RescansHardware());
    QVERIFY(sys.Add(adapter(u"ttyUSB0"_s, u"1-1"_s, "FT232R USB UART\n")));
    QTRY_COMPARE(recorder.log, QStringList{u"+ttyUSB0"_s});
}

void TestDeviceMonitor::udevWithoutDaemon()
{
    QTemporaryDir run;
    TUdevEventSource udev(run.path());
    QVERIFY(!udev.Start());
    TDeviceMonitor monitor(run.path());
    monitor.Start(std::make_unique<TUdevEventSource>(run.path()));
    QVERIFY(monitor.IsRunning());
    QVERIFY(monitor.RescansHardware());
}

// The user's ports come and go with their paths, whatever tells about the hardware.
void TestDeviceMonitor::virtualPorts()
{
    PtyPair listed;
    PtyPair later;
    QTemporaryDir dir;
    SysfsFixture sys(dir.path());
    // Listed through a link, as socat ports are: once the link is gone the path stays gone,
    // even when a test running beside this one gets the same /dev/pts number.
    const QString link = dir.filePath(u"listed"_s);
    QVERIFY(QFile::link(listed.SlavePath(), link));
    QVERIFY(sys.Add(adapter(u"ttyUSB0"_s, u"1-1"_s, "FT232R USB UART\n")));
    TVirtualPorts ports;
    QCOMPARE(ports.Add(link), TVirtualPorts::TAddResult::Added);
    TDeviceMonitor monitor(sys.Root(), &ports);
    Recorder recorder;
    recorder.attach(monitor);
    monitor.SetRescanInterval(kFastRescanMs);
    monitor.Start(std::make_unique<ScriptedSource>(true));
    QCOMPARE(FullNamesOf(monitor.KnownDevices()),
             (QStringList{u"FT232R USB UART (ttyUSB0)"_s, TVirtualPorts::FullNameOf(link)}));

    listed.CloseMaster();
    QVERIFY(QFile::remove(link));
    QTRY_COMPARE(recorder.log, QStringList{u'-' + link});
    QCOMPARE(ports.Add(later.SlavePath()), TVirtualPorts::TAddResult::Added);
    QTRY_COMPARE(recorder.log, (QStringList{u'-' + link, u'+' + later.SlavePath()}));
    QCOMPARE(FullNamesOf(monitor.KnownDevices()),
             (QStringList{u"FT232R USB UART (ttyUSB0)"_s, TVirtualPorts::FullNameOf(later.SlavePath())}));
}

void TestDeviceMonitor::resyncReportsNothing()
{
    PtyPair pty;
    QTemporaryDir dir;
    SysfsFixture sys(dir.path());
    TVirtualPorts ports;
    TDeviceMonitor monitor(sys.Root(), &ports);
    Recorder recorder;
    recorder.attach(monitor);
    monitor.SetRescanInterval(kFastRescanMs);
    monitor.Start(nullptr);

    QCOMPARE(ports.Add(pty.SlavePath()), TVirtualPorts::TAddResult::Added);
    QVERIFY(sys.Add(adapter(u"ttyUSB0"_s, u"1-1"_s, "FT232R USB UART\n")));
    monitor.Resync();
    QTest::qWait(kQuietMs);
    QCOMPARE(recorder.log, QStringList{});
    QCOMPARE(FullNamesOf(monitor.KnownDevices()),
             (QStringList{u"FT232R USB UART (ttyUSB0)"_s, TVirtualPorts::FullNameOf(pty.SlavePath())}));
}

void TestDeviceMonitor::stopEndsReports()
{
    QTemporaryDir dir;
    SysfsFixture sys(dir.path());
    TDeviceMonitor monitor(sys.Root());
    Recorder recorder;
    recorder.attach(monitor);
    monitor.SetRescanInterval(kFastRescanMs);
    monitor.Start(nullptr);
    monitor.Stop();
    QVERIFY(!monitor.IsRunning());
    QVERIFY(sys.Add(adapter(u"ttyUSB0"_s, u"1-1"_s, "FT232R USB UART\n")));
    QTest::qWait(kQuietMs);
    QCOMPARE(recorder.log, QStringList{});
}

QTEST_GUILESS_MAIN(TestDeviceMonitor)
#include "tst_devicemonitor.moc"
