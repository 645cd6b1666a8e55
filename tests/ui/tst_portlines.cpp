#include "CvCodecs.h"
#include "FakeModemLines.h"
#include "PtyPair.h"
#include "SysfsFixture.h"
#include "TCvComPortObj.h"
#include "TDeviceMonitor.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "TPortLock.h"
#include "TSplitView.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>

#include <QTabBar>

#include <algorithm>
#include <map>
#include <sys/ioctl.h>

using namespace Qt::Literals::StringLiterals;
using Req = FakeModemLines::Request;

namespace {

QStringList Lines(TCvComPortObj* obj)
{
    obj->FlushUiQueue();
    QStringList out;
    if (!obj->LogView()) return out;
    for (qint64 i = 0; i < obj->LogView()->Model().LineCount(); ++i) out << obj->LogView()->Model().Line(i);
    return out;
}

QStringList Lines(const TLogView* memo)
{
    QStringList out;
    for (qint64 i = 0; i < memo->Model().LineCount(); ++i) out << memo->Model().Line(i);
    return out;
}

int CountLines(const QStringList& lines, const QString& part)
{
    return int(
        std::count_if(lines.cbegin(), lines.cend(), [&](const QString& l) { return l.contains(part); }));
}

// The index of the first line holding part after line from, -1 when none.
int Find(const QStringList& lines, const QString& part, int from = 0)
{
    for (int i = from; i < lines.size(); ++i)
        if (lines[i].contains(part)) return i;
    return -1;
}

// A device behind a link (the way udev names a board by its serial number): the window
// lists the link as a virtual port; unplugging takes the pty and the link away, plugging
// puts a new pty behind the same link.
struct LinkRig {
    UiTestEnv env;
    QString link;
    std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
    PtyPair other; // a second device, to hold the main view
    std::unique_ptr<TSplitViewForm> w;

    LinkRig()
    {
        QDir().mkpath(env.tmp.path() + "/dev");
        link = env.tmp.path() + "/dev/ttyBoard0";
        QVERIFY(QFile::link(pty->SlavePath(), link));
        w = UiTestEnv::Start("en_US");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->DeviceMonitor()->SetRescanInterval(50);
        QVERIFY(w->AddVirtualPort(other.SlavePath()));
        QVERIFY(w->AddVirtualPort(link));
    }
    QString Name() const { return u"Virtual Port (%1)"_s.arg(link); }
    QString OtherName() const { return u"Virtual Port (%1)"_s.arg(other.SlavePath()); }
    TCvComPortObj* Obj() const { return w->GetDeciceByFullName(Name()); }
    void Select(const QString& name)
    {
        const int i = Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(name);
        QVERIFY(i >= 0);
        Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->setCurrentIndex(i);
        w->ComboBoxEx1Change();
    }
    QStringList Memo1() const { return Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s)); }
    void Unplug(bool hangUp)
    {
        if (hangUp) pty->CloseMaster();
        QVERIFY(QFile::remove(link));
    }
    void Plug()
    {
        pty = std::make_unique<PtyPair>();
        QVERIFY(pty->IsValid());
        QVERIFY(QFile::link(pty->SlavePath(), link));
    }
};

// One device on a pty, opened from the window with the modem lines of a fake table.
struct ModemRig {
    UiTestEnv env;
    PtyPair pty;
    std::unique_ptr<TSplitViewForm> w;
    QString name;

    ModemRig()
    {
        w = UiTestEnv::Start("en_US");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(w->AddVirtualPort(pty.SlavePath()));
        name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());
    }
    TCvComPortObj* Obj() const { return w->GetDeciceByFullName(name); }
    void Open()
    {
        Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
            ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(name));
        w->ComboBoxEx1Change();
        Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
        QVERIFY(Obj()->Connected());
    }
};

// USB adapters in the sysfs tree of the test, each behind a pseudo-terminal: the window
// finds them as the machine's own ports and opens <dev>/ttyUSBn, a link to the pty.
struct UsbRig {
    UiTestEnv env;
    SysfsFixture sys{env.tmp.path() + u"/sys"_s};
    QString dev = env.tmp.path() + u"/dev"_s;
    QString devBefore = TCvDeviceManager::DefaultDevRoot();
    std::map<QString, std::unique_ptr<PtyPair>> ptys;
    std::unique_ptr<TSplitViewForm> w;

    UsbRig() { QDir().mkpath(dev); }
    ~UsbRig()
    {
        w.reset();
        TCvDeviceManager::SetDefaultDevRoot(devBefore);
    }
    static FixtureUsb Adapter(const char* serial, const QString& socket)
    {
        FixtureUsb usb;
        usb.product = "FT232R USB UART\n";
        if (*serial) usb.serial = QByteArray(serial) + '\n';
        usb.busPath = socket;
        return usb;
    }
    void Plug(const QString& node, const FixtureUsb& usb)
    {
        auto pty = std::make_unique<PtyPair>();
        QVERIFY(pty->IsValid());
        QFile::remove(dev + u'/' + node);
        QVERIFY(QFile::link(pty->SlavePath(), dev + u'/' + node));
        ptys[node] = std::move(pty);
        QVERIFY(sys.Add(usbSerial(node, usb)));
    }
    void Unplug(const QString& node)
    {
        QVERIFY(sys.Remove(node));
        QFile::remove(dev + u'/' + node);
        ptys[node]->CloseMaster();
    }
    void Start()
    {
        TCvDeviceManager::SetDefaultDevRoot(dev);
        w = UiTestEnv::Start("en_US");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->DeviceMonitor()->SetRescanInterval(50);
    }
    static QString Name(const QString& node) { return u"FT232R USB UART (%1)"_s.arg(node); }
    QStringList Listed() const
    {
        QStringList out;
        auto* list = Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s);
        for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
        return out;
    }
};

bool Lit(const QLabel* l)
{
    return l->property("lit").toBool();
}

} // namespace

// A port that reopens when its device comes back, and the modem lines of the settings
// panel, over real pseudo-terminals.
class TstPortLines : public QObject {
    Q_OBJECT
private slots:
    void init() { QApplication::setStyle(u"Fusion"_s); }
    void reconnect_data();
    void reconnect();
    void reconnectOptionFollowsSelection();
    void reconnectBySerialNumber_data();
    void reconnectBySerialNumber();
    void vanishingDeviceWhileBrlttyRuns_data();
    void vanishingDeviceWhileBrlttyRuns();
    void openAppliesLevelsThenTogglesAndPulses_data();
    void openAppliesLevelsThenTogglesAndPulses();
    void inputsReachLabels_data();
    void inputsReachLabels();
    void ptyHasNoModemLines();
    void breakButton_data();
    void breakButton();
    void optionsSurviveRestart_data();
    void optionsSurviveRestart();
};

void TstPortLines::reconnect_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<bool>("hangUp");     // else the link goes first and the removal closes it
    QTest::addColumn<bool>("ownPage");    // else it writes into the main view
    QTest::addColumn<bool>("userCloses"); // closed by the user before the device leaves
    QTest::addColumn<bool>("reopens");
    QTest::newRow("hang-up, main view") << true << true << false << false << true;
    QTest::newRow("hang-up, own page") << true << true << true << false << true;
    QTest::newRow("removal, main view") << true << false << false << false << true;
    QTest::newRow("removal, own page") << true << false << true << false << true;
    QTest::newRow("option off: closed as before") << false << true << false << false << false;
    QTest::newRow("closed by the user") << true << true << false << true << false;
}

void TstPortLines::reconnect()
{
    QFETCH(bool, reconnect);
    QFETCH(bool, hangUp);
    QFETCH(bool, ownPage);
    QFETCH(bool, userCloses);
    QFETCH(bool, reopens);
    LinkRig r;
    TSplitViewForm& w = *r.w;
    if (ownPage) {
        r.Select(r.OtherName());
        Ui::Find<QPushButton>(w, u"Button2"_s)->click();
    }
    r.Select(r.Name());
    TCvComPortObj* obj = r.Obj();
    QVERIFY(!Ui::Find<QCheckBox>(w, u"CheckBoxReconnect"_s)->isChecked());
    if (reconnect) Ui::Find<QCheckBox>(w, u"CheckBoxReconnect"_s)->click();
    QCOMPARE(obj->Reconnect(), reconnect);
    const QString settings = r.env.SettingDir() + SafeFileNamePart(r.Name()) + ".ini";
    QCOMPARE(ReadFile(settings).contains("Reconnect=1\r\n"), reconnect);
    Ui::Find<QComboBox>(w, u"ComboBox1"_s)
        ->setCurrentIndex(br57600); // its own settings, not the panel's, come back
    Ui::Find<QPushButton>(w, u"Button2"_s)->click();
    QVERIFY(obj->Connected());
    QCOMPARE(obj->BaudRate(), int(br57600));
    QCOMPARE(obj->LogView() == Ui::Find<TLogMemo>(w, u"Memo1"_s), !ownPage);
    if (userCloses) {
        Ui::Find<QPushButton>(w, u"Button2"_s)->click();
        QVERIFY(!obj->Connected());
    }

    r.Unplug(hangUp);
    QTRY_VERIFY_WITH_TIMEOUT(!obj->Connected(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(CountLines(r.Memo1(), u"Device "_s + r.link + u" was removed"_s) > 0, 10000);
    const QString waiting = u"Waiting for device "_s + r.Name() + u" to come back"_s;
    const QString back = u"Device "_s + r.Name() + u" is back; reopened."_s;
    if (reopens) {
        QTRY_VERIFY_WITH_TIMEOUT(CountLines(Lines(obj), waiting) == 1, 10000);
        // Placed still: the log goes on where it was.
        QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions().contains(r.Name()), true);
        QCOMPARE(w.ReconnectWaiting(), QStringList{r.Name()});
    }
    if (!reopens && !userCloses)
        QVERIFY(!Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions().contains(r.Name()));
    // Meanwhile the panel shows another device's settings.
    r.Select(r.OtherName());
    Ui::Find<QComboBox>(w, u"ComboBox1"_s)->setCurrentIndex(br1200);

    r.Plug();
    QTRY_VERIFY_WITH_TIMEOUT(CountLines(r.Memo1(), u"Device "_s + r.link + u" was attached"_s) > 0, 10000);
    if (!reopens) {
        QTest::qWait(300); // a few more rescans
        QVERIFY(!obj->Connected());
        QCOMPARE(CountLines(Lines(obj), waiting), 0);
        QCOMPARE(CountLines(Lines(obj), back), 0);
        QVERIFY(w.ReconnectWaiting().isEmpty());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(obj->Connected(), 10000);
    const QStringList log = Lines(obj);
    const int lost = Find(log, waiting);
    QVERIFY(lost >= 0);
    QVERIFY2(Find(log, back, lost) > lost, qPrintable(log.join(u'\n')));
    QCOMPARE(CountLines(log, back), 1);
    QVERIFY(w.ReconnectWaiting().isEmpty());
    QCOMPARE(obj->BaudRate(), int(br57600));
    QCOMPARE(obj->LogView() == Ui::Find<TLogMemo>(w, u"Memo1"_s), !ownPage);
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions().count(r.Name()), 1);

    // Data flows both ways through the new device.
    const qint64 before = obj->FComReceiveCount.load();
    QVERIFY(r.pty->Write("hello again\r\n"));
    QTRY_COMPARE(obj->FComReceiveCount.load(), before + 13);
    QTRY_VERIFY(CountLines(Lines(obj), u"hello again"_s) == 1);
    QCOMPARE(obj->WriteStr(u"ping"_s), 4);
    QCOMPARE(r.pty->Read(4), QByteArray("ping"));

    // It keeps the option: a second loss waits again.
    r.Unplug(true);
    QTRY_VERIFY_WITH_TIMEOUT(CountLines(Lines(obj), waiting) == 2, 10000);
    // Closing it from its tab's menu ends the wait and lets go of its place.
    w.CloseComDevice(r.Name());
    QVERIFY(w.ReconnectWaiting().isEmpty());
    QVERIFY(!Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions().contains(r.Name()));
    r.Plug();
    QTRY_VERIFY_WITH_TIMEOUT(CountLines(r.Memo1(), u"Device "_s + r.link + u" was attached"_s) > 1, 10000);
    QTest::qWait(300);
    QVERIFY(!obj->Connected());
}

void TstPortLines::reconnectOptionFollowsSelection()
{
    LinkRig r;
    TSplitViewForm& w = *r.w;
    r.Select(r.Name());
    // Beside the line settings, in English here.
    QVERIFY(
        Ui::Find<QGroupBox>(w, u"GroupBox2"_s)->isAncestorOf(Ui::Find<QCheckBox>(w, u"CheckBoxReconnect"_s)));
    QVERIFY(Ui::Find<TSplitView>(w, u"SV_L"_s)->isAncestorOf(Ui::Find<QGroupBox>(w, u"GroupBoxModem"_s)));
    QCOMPARE(Ui::Find<QCheckBox>(w, u"CheckBoxReconnect"_s)->text(), u"Reopen when the device comes back"_s);
    QCOMPARE(Ui::Find<QPushButton>(w, u"ButtonPulseDTR"_s)->text(), u"Pulse DTR"_s);
    Ui::Find<QCheckBox>(w, u"CheckBoxReconnect"_s)->click();
    r.Select(r.OtherName());
    QVERIFY(!Ui::Find<QCheckBox>(w, u"CheckBoxReconnect"_s)->isChecked());
    r.Select(r.Name());
    QVERIFY(Ui::Find<QCheckBox>(w, u"CheckBoxReconnect"_s)->isChecked());
    QVERIFY(r.Obj()->Reconnect());
    QVERIFY(!w.GetDeciceByFullName(r.OtherName())->Reconnect());
    Ui::Find<QCheckBox>(w, u"CheckBoxReconnect"_s)->click();
    QVERIFY(!r.Obj()->Reconnect());
    QVERIFY(ReadFile(r.env.SettingDir() + SafeFileNamePart(r.Name()) + ".ini").contains("Reconnect=0\r\n"));
}

void TstPortLines::reconnectBySerialNumber_data()
{
    QTest::addColumn<QByteArray>("serial"); // of the adapter opened; empty: it has none
    QTest::addColumn<QString>("node");      // what comes back after the unplugging
    QTest::addColumn<QByteArray>("backSerial");
    QTest::addColumn<QString>("backSocket");
    QTest::addColumn<bool>("reopens");
    QTest::newRow("back as ttyUSB1") << QByteArray("A1") << u"ttyUSB1"_s << QByteArray("A1") << u"1-2"_s
                                     << true;
    QTest::newRow("back under its old name")
        << QByteArray("A1") << u"ttyUSB0"_s << QByteArray("A1") << u"1-1"_s << true;
    QTest::newRow("another adapter of the model as ttyUSB1")
        << QByteArray("A1") << u"ttyUSB1"_s << QByteArray("B2") << u"1-2"_s << false;
    QTest::newRow("another adapter of the model as ttyUSB0")
        << QByteArray("A1") << u"ttyUSB0"_s << QByteArray("B2") << u"1-1"_s << false;
    QTest::newRow("no serial number: the same socket")
        << QByteArray() << u"ttyUSB1"_s << QByteArray() << u"1-1"_s << true;
    QTest::newRow("no serial number: another socket")
        << QByteArray() << u"ttyUSB0"_s << QByteArray() << u"1-4"_s << false;
}

void TstPortLines::reconnectBySerialNumber()
{
    QFETCH(QByteArray, serial);
    QFETCH(QString, node);
    QFETCH(QByteArray, backSerial);
    QFETCH(QString, backSocket);
    QFETCH(bool, reopens);
    UsbRig r;
    r.Plug(u"ttyUSB0"_s, UsbRig::Adapter(serial.constData(), u"1-1"_s));
    r.Start();
    TSplitViewForm& w = *r.w;
    const QString first = UsbRig::Name(u"ttyUSB0"_s);
    QCOMPARE(r.Listed(), QStringList{first});
    // The tool tip tells it from another adapter of its model.
    const QString tip = Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)->itemData(0, Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(serial.isEmpty() ? u"no serial number"_s
                                           : u"serial number "_s + QString::fromLatin1(serial)),
             qPrintable(tip));
    QVERIFY(tip.contains(u"USB 0403:6001"_s));
    Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)->setCurrentIndex(0);
    w.ComboBoxEx1Change();
    Ui::Find<QCheckBox>(w, u"CheckBoxReconnect"_s)->click();
    Ui::Find<QPushButton>(w, u"Button2"_s)->click();
    TCvComPortObj* obj = w.GetDeciceByFullName(first);
    QVERIFY(obj && obj->Connected());

    r.Unplug(u"ttyUSB0"_s);
    QTRY_VERIFY_WITH_TIMEOUT(w.ReconnectWaiting() == QStringList{first}, 10000);
    QVERIFY(!obj->Connected());

    r.Plug(node, UsbRig::Adapter(backSerial.constData(), backSocket));
    const QString back = UsbRig::Name(node);
    QTRY_VERIFY_WITH_TIMEOUT(r.Listed().contains(back), 10000);
    if (!reopens) {
        QTest::qWait(300); // a few more rescans
        QVERIFY(!obj->Connected());
        QCOMPARE(w.ReconnectWaiting(), QStringList{obj->FComportFullName});
        // Another adapter on its old name is told once, and is not it.
        if (node == u"ttyUSB0"_s) {
            QCOMPARE(CountLines(Lines(obj), u"is listed again, but it is another adapter"_s), 1);
            QVERIFY(w.GetDeciceByFullName(back) == obj);
        } else {
            QVERIFY(w.GetDeciceByFullName(back) != obj);
            QVERIFY(!w.GetDeciceByFullName(back)->Connected());
        }
        // The adapter it waits for comes back after all, under yet another name (one
        // without a serial number in the socket it is known by).
        r.Plug(u"ttyUSB2"_s, UsbRig::Adapter(serial.constData(), serial.isEmpty() ? u"1-1"_s : u"1-3"_s));
        node = u"ttyUSB2"_s;
    }
    const QString name = UsbRig::Name(node);
    QTRY_VERIFY_WITH_TIMEOUT(obj->Connected(), 10000);
    QVERIFY(w.ReconnectWaiting().isEmpty());
    // It carries the name it came back under, in the list, on its page and in its log.
    QCOMPARE(obj->FComportFullName, name);
    QCOMPARE(w.GetDeciceByFullName(name), obj);
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaption(0), name);
    QCOMPARE(Ui::Find<QTabBar>(w, u"TabSet2"_s)->tabText(0), name);
    const QStringList log = Lines(obj);
    if (name != first) QCOMPARE(CountLines(log, u"Device %1 came back as %2."_s.arg(first, name)), 1);
    QCOMPARE(CountLines(log, u"Device %1 is back; reopened."_s.arg(name)), 1);
    // The device behind the new name is the one that talks.
    QVERIFY(r.ptys[node]->Write("still me\r\n"));
    QTRY_VERIFY(CountLines(Lines(obj), u"still me"_s) == 1);
    QCOMPARE(obj->WriteStr(u"ping"_s), 4);
    QCOMPARE(r.ptys[node]->Read(4), QByteArray("ping"));
    // Closed by the user, its settings go to the file of the name it has now.
    Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)->setCurrentIndex(r.Listed().indexOf(name));
    w.ComboBoxEx1Change();
    Ui::Find<QPushButton>(w, u"Button2"_s)->click();
    QVERIFY(!obj->Connected());
    QVERIFY(QFile::exists(r.env.SettingDir() + SafeFileNamePart(name) + u".ini"_s));
}

void TstPortLines::vanishingDeviceWhileBrlttyRuns_data()
{
    QTest::addColumn<bool>("brltty");
    QTest::newRow("brltty runs") << true;
    QTest::newRow("it does not") << false;
}

void TstPortLines::vanishingDeviceWhileBrlttyRuns()
{
    QFETCH(bool, brltty);
    if (!RunningPrograms(u"brltty"_s).isEmpty()) QSKIP("brltty runs on this machine");
    UiTestEnv env;
    // A program of that name: a copy of sleep.
    QProcess child;
    if (brltty) {
        const QString copy = env.tmp.filePath(u"brltty"_s);
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(u"sleep"_s), copy));
        child.start(copy, {u"60"_s});
        QVERIFY(child.waitForStarted(10000));
    }
    auto w = UiTestEnv::Start("en_US");
    w->WMDeviceChange(TSplitViewForm::DeviceArrival, u"ttyUSB5"_s);
    w->WMDeviceChange(TSplitViewForm::DeviceRemoveComplete, u"ttyUSB5"_s);
    const QStringList log = Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s));
    QCOMPARE(CountLines(log, u"Device ttyUSB5 went away "_s), brltty ? 1 : 0);
    QCOMPARE(CountLines(log, u"sudo apt remove brltty"_s), brltty ? 1 : 0);
    // A removal with no arrival seen before it (present at start) says nothing of brltty.
    w->WMDeviceChange(TSplitViewForm::DeviceRemoveComplete, u"ttyUSB6"_s);
    QCOMPARE(CountLines(Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s)), u"went away"_s), brltty ? 1 : 0);
    child.kill();
    child.waitForFinished(10000);
}

void TstPortLines::openAppliesLevelsThenTogglesAndPulses_data()
{
    QTest::addColumn<bool>("dtr"); // else RTS
    QTest::addColumn<bool>("level");
    QTest::newRow("DTR high") << true << true;
    QTest::newRow("DTR low") << true << false;
    QTest::newRow("RTS high") << false << true;
    QTest::newRow("RTS low") << false << false;
}

void TstPortLines::openAppliesLevelsThenTogglesAndPulses()
{
    QFETCH(bool, dtr);
    QFETCH(bool, level);
    ModemRig r;
    TSplitViewForm& w = *r.w;
    FakeModemLines lines;
    QCheckBox* box =
        dtr ? Ui::Find<QCheckBox>(w, u"CheckBoxDTR"_s) : Ui::Find<QCheckBox>(w, u"CheckBoxRTS"_s);
    QCheckBox* otherBox =
        dtr ? Ui::Find<QCheckBox>(w, u"CheckBoxRTS"_s) : Ui::Find<QCheckBox>(w, u"CheckBoxDTR"_s);
    QPushButton* pulse =
        dtr ? Ui::Find<QPushButton>(w, u"ButtonPulseDTR"_s) : Ui::Find<QPushButton>(w, u"ButtonPulseRTS"_s);
    const int bit = dtr ? TIOCM_DTR : TIOCM_RTS;
    const auto asked = [](bool on) -> unsigned long { return on ? TIOCMBIS : TIOCMBIC; };
    box->setChecked(level);
    otherBox->setChecked(true);

    r.Open();
    const QList<Req> opened{{asked(dtr ? level : true), TIOCM_DTR}, {asked(dtr ? true : level), TIOCM_RTS}};
    QCOMPARE(lines.Writes(), opened);

    lines.requests.clear();
    box->click();
    QCOMPARE(box->isChecked(), !level);
    QCOMPARE(lines.Writes(), (QList<Req>{{asked(!level), bit}}));
    box->click();
    QCOMPARE(lines.Writes(), (QList<Req>{{asked(!level), bit}, {asked(level), bit}}));

    lines.requests.clear();
    Ui::Find<QSpinBox>(w, u"SpinPulseMs"_s)->setValue(150);
    pulse->click();
    // The inversion is made at once; the restore waits for the event loop, which keeps
    // the window answering meanwhile.
    QCOMPARE(lines.Writes(), (QList<Req>{{asked(!level), bit}}));
    pulse->click(); // a second press during the pulse neither cuts nor repeats it
    QCOMPARE(lines.Writes(), (QList<Req>{{asked(!level), bit}}));
    QTRY_COMPARE_WITH_TIMEOUT(lines.Writes().size(), 2, 10000);
    QCOMPARE(lines.Writes().last(), (Req{asked(level), bit}));
    QCOMPARE((lines.Outputs() & bit) != 0, level);
    QCOMPARE(box->isChecked(), level);
    QTest::qWait(300);
    QCOMPARE(lines.Writes().size(), 2);
}

void TstPortLines::inputsReachLabels_data()
{
    QTest::addColumn<int>("inputs");
    QTest::addColumn<QList<bool>>("lit"); // CTS, DSR, RI, CD
    QTest::newRow("CTS") << int(TIOCM_CTS) << QList<bool>{true, false, false, false};
    QTest::newRow("DSR and CD") << int(TIOCM_DSR | TIOCM_CAR) << QList<bool>{false, true, false, true};
    QTest::newRow("RI") << int(TIOCM_RNG) << QList<bool>{false, false, true, false};
    QTest::newRow("all") << int(TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR)
                         << QList<bool>{true, true, true, true};
}

void TstPortLines::inputsReachLabels()
{
    QFETCH(int, inputs);
    QFETCH(QList<bool>, lit);
    ModemRig r;
    TSplitViewForm& w = *r.w;
    FakeModemLines lines;
    const QList<QLabel*> labels{Ui::Find<QLabel>(w, u"LabelCTS"_s), Ui::Find<QLabel>(w, u"LabelDSR"_s),
                                Ui::Find<QLabel>(w, u"LabelRI"_s), Ui::Find<QLabel>(w, u"LabelCD"_s)};
    for (QLabel* l : labels) QVERIFY(!l->isEnabled()); // nothing open
    r.Open();
    QVERIFY(Ui::Find<QTimer>(w, u"TimerModem"_s)->isActive());
    lines.inputs = inputs;
    for (int i = 0; i < 4; ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(Lit(labels[i]), lit[i], 10000);
        QVERIFY(labels[i]->isEnabled());
    }
    lines.inputs = 0;
    for (QLabel* l : labels) QTRY_VERIFY_WITH_TIMEOUT(!Lit(l), 10000);

    // Closed: nothing polled, nothing shown.
    Ui::Find<QPushButton>(w, u"Button2"_s)->click();
    QVERIFY(!r.Obj()->Connected());
    QTRY_VERIFY_WITH_TIMEOUT(!Ui::Find<QTimer>(w, u"TimerModem"_s)->isActive(), 10000);
    const int gets = lines.Gets();
    QTest::qWait(3 * TSplitViewForm::ModemPollMs);
    QCOMPARE(lines.Gets(), gets);
    for (QLabel* l : labels) QVERIFY(!l->isEnabled());
}

void TstPortLines::ptyHasNoModemLines()
{
    ModemRig r; // the kernel's own table: a pty answers ENOTTY
    TSplitViewForm& w = *r.w;
    r.Open();
    const QString note = u" has no modem lines"_s;
    QCOMPARE(CountLines(Lines(r.Obj()), note), 1);
    QCOMPARE(r.Obj()->ModemSupport(), TCustomComPort::TModemSupport::Unsupported);
    for (QLabel* l : {Ui::Find<QLabel>(w, u"LabelCTS"_s), Ui::Find<QLabel>(w, u"LabelDSR"_s),
                      Ui::Find<QLabel>(w, u"LabelRI"_s), Ui::Find<QLabel>(w, u"LabelCD"_s)})
        QVERIFY(!l->isEnabled());
    QVERIFY(!Ui::Find<QTimer>(w, u"TimerModem"_s)->isActive());
    Ui::Find<QCheckBox>(w, u"CheckBoxDTR"_s)->click();
    Ui::Find<QPushButton>(w, u"ButtonPulseDTR"_s)->click();
    Ui::Find<QPushButton>(w, u"ButtonPulseRTS"_s)->click();
    QTest::qWait(3 * TSplitViewForm::ModemPollMs);
    QCOMPARE(CountLines(Lines(r.Obj()), note), 1);
    QVERIFY(r.Obj()->Connected());
    // Still a working port.
    QVERIFY(r.pty.Write("abc\r\n"));
    QTRY_VERIFY(CountLines(Lines(r.Obj()), u"abc"_s) == 1);
}

void TstPortLines::breakButton_data()
{
    QTest::addColumn<QString>("device"); // "lines": a device with a break; "pty"; "error": it fails
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("told");
    QTest::newRow("sent") << u"lines"_s << u"en_US"_s << u"Sending a break of 300 ms."_s;
    QTest::newRow("sent, in Chinese")
        << u"lines"_s << u"zh_CN"_s << u"正在发送 300 毫秒的中断信号（Break）。"_s;
    QTest::newRow("pseudo-terminal") << u"pty"_s << u"en_US"_s
                                     << u"Can not send a break on %1: not possible on this kind of port."_s;
    QTest::newRow("device error") << u"error"_s << u"en_US"_s
                                  << u"Can not send a break on %1: Input/output error"_s;
}

void TstPortLines::breakButton()
{
    QFETCH(QString, device);
    QFETCH(QString, language);
    QFETCH(QString, told);
    std::unique_ptr<FakeModemLines> lines;
    if (device != u"pty"_s) lines = std::make_unique<FakeModemLines>();
    UiTestEnv env;
    PtyPair pty;
    auto w = UiTestEnv::Start(language.toLatin1().constData());
    QVERIFY(w->AddVirtualPort(pty.SlavePath()));
    const QString name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());
    auto* button = Ui::Find<QPushButton>(*w, u"ButtonBreak"_s);
    QCOMPARE(button->text(), language == u"en_US"_s ? u"Send Break"_s : u"发送 Break"_s);
    QCOMPARE(Ui::Find<QSpinBox>(*w, u"SpinBreakMs"_s)->value(), 250);
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
        ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(name));
    w->ComboBoxEx1Change();
    // Closed: nothing to send it on.
    button->click();
    QVERIFY(!lines || lines->requests.isEmpty());
    Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
    TCvComPortObj* obj = w->GetDeciceByFullName(name);
    QVERIFY(obj->Connected());
    if (lines) lines->requests.clear();
    if (device == u"error"_s) lines->error = EIO;
    Ui::Find<QSpinBox>(*w, u"SpinBreakMs"_s)->setValue(300);
    button->click();
    const QString expected = told.contains(u"%1"_s) ? told.arg(name) : told;
    QCOMPARE(CountLines(Lines(obj), expected), 1);
    if (device != u"lines"_s) {
        QVERIFY(!obj->Breaking());
        return;
    }
    // The window goes on while the line is held; the break ends by itself.
    QVERIFY(obj->Breaking());
    button->click(); // a second press during it changes nothing
    QCOMPARE(lines->Writes(), (QList<Req>{{TIOCSBRK, 0}}));
    QTRY_VERIFY_WITH_TIMEOUT(!obj->Breaking(), 10000);
    QCOMPARE(lines->Writes(), (QList<Req>{{TIOCSBRK, 0}, {TIOCCBRK, 0}}));
    QCOMPARE(CountLines(Lines(obj), expected), 1);
}

void TstPortLines::optionsSurviveRestart_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<bool>("rts");
    QTest::addColumn<int>("pulseMs");
    QTest::addColumn<int>("breakMs");
    QTest::newRow("reconnect, DTR low, 250 ms") << true << false << true << 250 << 100;
    QTest::newRow("no reconnect, RTS low, 40 ms") << false << true << false << 40 << 2000;
}

void TstPortLines::optionsSurviveRestart()
{
    QFETCH(bool, reconnect);
    QFETCH(bool, dtr);
    QFETCH(bool, rts);
    QFETCH(int, pulseMs);
    QFETCH(int, breakMs);
    UiTestEnv env;
    PtyPair pty;
    const QString name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());
    const auto select = [&](TSplitViewForm& w) {
        Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)
            ->setCurrentIndex(Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)->findText(name));
        w.ComboBoxEx1Change();
    };
    {
        auto w = UiTestEnv::Start("en_US");
        QVERIFY(w->AddVirtualPort(pty.SlavePath()));
        select(*w);
        if (reconnect) Ui::Find<QCheckBox>(*w, u"CheckBoxReconnect"_s)->click();
        // Both start low, as the port layer leaves them.
        QVERIFY(!Ui::Find<QCheckBox>(*w, u"CheckBoxDTR"_s)->isChecked() &&
                !Ui::Find<QCheckBox>(*w, u"CheckBoxRTS"_s)->isChecked());
        if (dtr) Ui::Find<QCheckBox>(*w, u"CheckBoxDTR"_s)->click();
        if (rts) Ui::Find<QCheckBox>(*w, u"CheckBoxRTS"_s)->click();
        Ui::Find<QSpinBox>(*w, u"SpinPulseMs"_s)->setValue(pulseMs);
        Ui::Find<QSpinBox>(*w, u"SpinBreakMs"_s)->setValue(breakMs);
        w->close();
    }
    const QByteArray ini = ReadFile(env.SettingDir() + "Corvane.ini");
    QVERIFY(ini.contains(QByteArray("MODEMDTR=") + (dtr ? "1" : "0")));
    QVERIFY(ini.contains("PULSEMS=" + QByteArray::number(pulseMs)));
    QVERIFY(ini.contains("BREAKMS=" + QByteArray::number(breakMs)));

    auto w = UiTestEnv::Start("en_US");
    QVERIFY(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(name) >=
            0); // the virtual port is listed again
    select(*w);
    QCOMPARE(Ui::Find<QCheckBox>(*w, u"CheckBoxReconnect"_s)->isChecked(), reconnect);
    QCOMPARE(w->GetDeciceByFullName(name)->Reconnect(), reconnect);
    QCOMPARE(Ui::Find<QCheckBox>(*w, u"CheckBoxDTR"_s)->isChecked(), dtr);
    QCOMPARE(Ui::Find<QCheckBox>(*w, u"CheckBoxRTS"_s)->isChecked(), rts);
    QCOMPARE(Ui::Find<QSpinBox>(*w, u"SpinPulseMs"_s)->value(), pulseMs);
    QCOMPARE(Ui::Find<QSpinBox>(*w, u"SpinBreakMs"_s)->value(), breakMs);
    // And the port opens with those levels.
    FakeModemLines lines;
    Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
    QVERIFY(w->GetDeciceByFullName(name)->Connected());
    const auto asked = [](bool on) -> unsigned long { return on ? TIOCMBIS : TIOCMBIC; };
    QCOMPARE(lines.Writes(), (QList<Req>{{asked(dtr), TIOCM_DTR}, {asked(rts), TIOCM_RTS}}));
}

QTEST_MAIN(TstPortLines)
#include "tst_portlines.moc"
