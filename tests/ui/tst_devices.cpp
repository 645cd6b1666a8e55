#include "CvCodecs.h"
#include "CvLanguage.h"
#include "PtyPair.h"
#include "TCvComPortObj.h"
#include "TDeviceMonitor.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TTabSet.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList Lines(const TLogView* memo)
{
    QStringList out;
    for (qint64 i = 0; i < memo->Model().LineCount(); ++i) out << memo->Model().Line(i);
    return out;
}

// Log lines may carry a line number or a time stamp in front.
bool HasLine(const QStringList& lines, const QString& text)
{
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QString& l) { return l.endsWith(text); });
}

QString Name(const PtyPair& p)
{
    return u"Virtual Port (%1)"_s.arg(p.SlavePath());
}

// A window with two ptys added as virtual ports.
struct Rig {
    UiTestEnv env;
    PtyPair a, b;
    std::unique_ptr<TSplitViewForm> w; // goes first, while the ptys still answer

    explicit Rig(const char* locale = "en_US")
    {
        w = UiTestEnv::Start(locale); // over the empty sysfs tree of the environment
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(w->AddVirtualPort(a.SlavePath()));
        QVERIFY(w->AddVirtualPort(b.SlavePath()));
    }
    TCvComPortObj* Obj(const PtyPair& p) const { return w->GetDeciceByFullName(Name(p)); }
    void Select(const PtyPair& p)
    {
        Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
            ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(Name(p)));
        w->ComboBoxEx1Change();
    }
    void Press(const PtyPair& p)
    {
        Select(p);
        Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
    }
    QStringList Memo1() const { return Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s)); }
};

} // namespace

class TstDevices : public QObject {
    Q_OBJECT
private slots:
    void init() { QApplication::setStyle(u"Fusion"_s); }
    void listsVirtualPortsInOrder();
    void noSerialPort_data();
    void noSerialPort();
    void openTwoThenClose_data();
    void openTwoThenClose();
    void busyPortKeepsPlacement_data();
    void busyPortKeepsPlacement();
    void captions_data();
    void captions();
    void virtualPortMenuFollowsLanguage();
    void stopBitsAsApplied_data();
    void stopBitsAsApplied();
    void customBaudRate_data();
    void customBaudRate();
    void rightClickOnTabs_data();
    void rightClickOnTabs();
    void removalClosesPort_data();
    void removalClosesPort();
    void returningPortKeepsObject();
    void openFailureShowsHint();
    void panelAtPressRunsOwnPage();
    void reopenAfterClose_data();
    void reopenAfterClose();
    void portMatchesWholeName_data();
    void portMatchesWholeName();
    void addPortFromDeviceListMenu_data();
    void addPortFromDeviceListMenu();
    void selectingOpenDeviceShowsItsFormats();
    void openPortSettingsKeptAtShutdown();
    void openingKeepsBlockText_data();
    void openingKeepsBlockText();
    void openButtonFollowsLanguageWithEmptyList();
    void longNameElidedInThePanel();
};

void TstDevices::listsVirtualPortsInOrder()
{
    Rig r;
    QCOMPARE(Ui::Find<QComboBox>(*r.w, u"ComboBoxEx1"_s)->count(), 2);
    QCOMPARE(Ui::Find<QComboBox>(*r.w, u"ComboBoxEx1"_s)->itemText(0), Name(r.a));
    QCOMPARE(Ui::Find<QComboBox>(*r.w, u"ComboBoxEx1"_s)->itemText(1), Name(r.b));
    QCOMPARE(r.w->GetCurrentDeviceName(), Name(r.a));
    QCOMPARE(r.Obj(r.a)->Port(), r.a.SlavePath());
    QCOMPARE(r.w->GetDeciceByPort(r.b.SlavePath()), r.Obj(r.b));
    // Kept in Corvane.ini, beside the window's own sections.
    r.w->projectSave(true);
    const QByteArray ini = ReadFile(r.w->SettingsFileName());
    QVERIFY(ini.contains("[VirtualPorts]"));
    QVERIFY(ini.contains(r.a.SlavePath().toUtf8()));
    QVERIFY(ini.contains("[Preference]") || ini.contains("Theme="));
}

void TstDevices::noSerialPort_data()
{
    QTest::addColumn<QStringList>("hid");
    QTest::addColumn<QString>("caption");
    QTest::newRow("nothing") << QStringList() << u"Open The Device"_s;
    QTest::newRow("one HID device") << QStringList{u"Mouse VID 0x046D PID 0xC077"_s}
                                    << u"Open The HID Device PID 0xC077"_s;
}

void TstDevices::noSerialPort()
{
    QFETCH(QStringList, hid);
    QFETCH(QString, caption);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->CvHIDDeviceList() = hid;
    Ui::Find<QPushButton>(*w, u"Button4"_s)->click();
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->count(), hid.size());
    QCOMPARE(Ui::Find<QPushButton>(*w, u"Button2"_s)->text(), caption);
    Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
    QCOMPARE(HasLine(Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s)), u"No device found"_s), hid.isEmpty());
}

void TstDevices::openTwoThenClose_data()
{
    QTest::addColumn<bool>("holderFirst");
    QTest::newRow("close the main-view holder first") << true;
    QTest::newRow("close the own page first") << false;
}

void TstDevices::openTwoThenClose()
{
    QFETCH(bool, holderFirst);
    Rig r;
    TSplitViewForm& w = *r.w;
    const QString product = Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaption(0);
    const QString wave = Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaption(1);
    const QString help = Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaption(2);

    r.Press(r.a);
    TCvComPortObj* A = r.Obj(r.a);
    QVERIFY(A->Connected());
    QCOMPARE(w.Memo1Tag(), A);
    QCOMPARE(A->LogView(), Ui::Find<TLogMemo>(w, u"Memo1"_s));
    QVERIFY(HasLine(r.Memo1(), u"Device "_s + Name(r.a) + u" was opened."_s));

    r.Press(r.b);
    TCvComPortObj* B = r.Obj(r.b);
    QVERIFY(B->Connected());
    const QStringList pages{Name(r.a), Name(r.b), wave, help};
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions(), pages);
    QCOMPARE(Ui::Find<TTabSet>(w, u"TabSet2"_s)->Tabs(), pages);
    const QStringList bLog = Lines(B->LogView());
    QVERIFY(!bLog.isEmpty());
    QVERIFY(bLog.first().endsWith(BannerLines(u"EN"_s).first())); // the banner
    QVERIFY(HasLine(bLog, u"Device "_s + Name(r.b) + u" was opened."_s));
    QCOMPARE(Ui::Find<TTabSet>(w, u"TabSet2"_s)->currentIndex(), 1);
    QCOMPARE(Ui::Find<QPushButton>(w, u"Button2"_s)->text(), u"Close The Device "_s + r.b.SlavePath());

    if (holderFirst) {
        r.Press(r.a);
        QVERIFY(!A->Connected());
        QVERIFY(HasLine(r.Memo1(), u"Device "_s + r.a.SlavePath() + u" was closed."_s));
        QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaption(0), product);
        QCOMPARE(Ui::Find<TTabSet>(w, u"TabSet2"_s)->currentIndex(), 0);
        QCOMPARE(w.Memo1Tag(), nullptr);
        QVERIFY(A->LogView() != Ui::Find<TLogMemo>(w, u"Memo1"_s));
        QVERIFY(B->Connected());
    }
    const int memoLines = r.Memo1().size();
    r.Press(r.b);
    QVERIFY(!B->Connected());
    QVERIFY(!Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions().contains(Name(r.b)));
    QCOMPARE(Ui::Find<TTabSet>(w, u"TabSet2"_s)->Tabs(),
             Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions());
    QCOMPARE(Ui::Find<TTabSet>(w, u"TabSet2"_s)->currentIndex(), 0);
    QCOMPARE(r.Memo1().size(), memoLines);
    const QByteArray saved =
        ReadFile(w.CorvaneCfgDir_LogFileName + u'_' + SafeFileNamePart(r.b.SlavePath()) + ".log");
    QVERIFY(saved.contains("was opened."));
    if (!holderFirst) {
        // The holder is the selected device again.
        QCOMPARE(w.GetCurrentDeviceName(), Name(r.a));
        QCOMPARE(Ui::Find<QPushButton>(w, u"Button2"_s)->text(), u"Close The Device "_s + r.a.SlavePath());
    }
    // Settings stored at closing.
    QVERIFY(QFile::exists(r.env.SettingDir() + SafeFileNamePart(Name(r.b)) + ".ini"));
}

void TstDevices::busyPortKeepsPlacement_data()
{
    QTest::addColumn<bool>("onOwnPage");
    QTest::newRow("main view") << false;
    QTest::newRow("own page") << true;
}

void TstDevices::busyPortKeepsPlacement()
{
    QFETCH(bool, onOwnPage);
    Rig r;
    TSplitViewForm& w = *r.w;
    if (onOwnPage) r.Press(r.a);
    const int fd = ::open(r.b.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);

    r.Press(r.b);
    TCvComPortObj* B = r.Obj(r.b);
    QVERIFY(!B->Connected());
    const QStringList log = Lines(B->LogView());
    QVERIFY(HasLine(log, u"Can not open  "_s + Name(r.b)));
    QVERIFY(HasLine(log, u"Unable to open com port (Error: 16, Device or resource busy)"_s));
    // Held by this very process here (the test's own descriptor), and named so.
    QVERIFY(HasLine(log, u"%1 is in use by this program (pid %2): it is open in another of its ports."_s
                             .arg(r.b.SlavePath())
                             .arg(QCoreApplication::applicationPid())));
    const QStringList pages = Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions();
    QCOMPARE(pages.count(Name(r.b)), 1);
    if (onOwnPage) QCOMPARE(w.GetCurrentDeviceName(), Name(r.a));
    else QCOMPARE(w.Memo1Tag(), B);

    r.Press(r.b);
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions(), pages);
    ::close(fd);
    r.Press(r.b);
    QVERIFY(B->Connected());
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions(), pages);
}

void TstDevices::captions_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("EN closed") << QByteArray("en_US") << false << u"Open The Device "_s;
    QTest::newRow("EN open") << QByteArray("en_US") << true << u"Close The Device "_s;
    QTest::newRow("CN closed") << QByteArray("zh_CN") << false << u"打开串口设备 "_s;
    QTest::newRow("CN open") << QByteArray("zh_CN") << true << u"关闭设备 "_s;
}

void TstDevices::captions()
{
    QFETCH(QByteArray, locale);
    QFETCH(bool, open);
    QFETCH(QString, prefix);
    Rig r(locale.constData());
    r.Select(r.a);
    if (open) r.Press(r.a);
    QCOMPARE(Ui::Find<QPushButton>(*r.w, u"Button2"_s)->text(), prefix + r.a.SlavePath());
    QCOMPARE(Ui::Find<QComboBox>(*r.w, u"ComboBox1"_s)->isEnabled(), !open);
}

void TstDevices::virtualPortMenuFollowsLanguage()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    auto* add = w->findChild<QAction*>(u"AddVirtualPort1"_s);
    auto* remove = w->findChild<QAction*>(u"RemoveVirtualPort1"_s);
    QVERIFY(add && remove);
    QCOMPARE(add->text(), u"添加虚拟串口..."_s);
    QString asked;
    SetInputBoxPresenter([&](const QString&, const QString& prompt, const QString&) {
        asked = prompt;
        return QString();
    });
    add->trigger();
    QCOMPARE(asked, u"要添加的串口路径（/dev/pts/N 或 socat 链接）："_s);
    Ui::Find<QCheckBox>(*w, u"CheckBox6"_s)->click();
    QCOMPARE(add->text(), u"Add Virtual Port..."_s);
    QCOMPARE(remove->text(), u"Remove Virtual Port..."_s);
    remove->trigger();
    SetInputBoxPresenter({});
    QCOMPARE(asked, u"Path of the virtual port to remove:"_s);
}

void TstDevices::stopBitsAsApplied_data()
{
    QTest::addColumn<int>("stopBits");
    QTest::newRow("1") << int(sbOneStopBit);
    QTest::newRow("1.5, applied as 2") << int(sbOne5StopBits);
    QTest::newRow("2") << int(sbTwoStopBits);
}

void TstDevices::stopBitsAsApplied()
{
    QFETCH(int, stopBits);
    Rig r;
    r.Select(r.a);
    Ui::Find<QComboBox>(*r.w, u"ComboBox3"_s)->setCurrentIndex(stopBits);
    Ui::Find<QPushButton>(*r.w, u"Button2"_s)->click(); // the holder logs into Memo1
    QVERIFY(r.Obj(r.a)->Connected());
    const QString note = u"Linux serial ports have no 1.5 stop bits; 2 stop bits are used."_s;
    QCOMPARE(r.Memo1().filter(note).size(), stopBits == sbOne5StopBits ? 1 : 0);
}

void TstDevices::customBaudRate_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("box");
    QTest::newRow("letters") << u"abc"_s << 13 << 9600 << u"Wrong baud rate,Please input a integer number "_s;
    QTest::newRow("zero") << u"0"_s << 13 << 9600 << u"Wrong baud rate,Please input a integer number "_s;
    QTest::newRow("number") << u"250000"_s << 0 << 250000
                            << u"You have set custom baudrate to: 250000.                    "_s;
}

void TstDevices::customBaudRate()
{
    QFETCH(QString, answer);
    QFETCH(int, position);
    QFETCH(int, rate);
    QFETCH(QString, box);
    Rig r;
    r.Press(r.a); // the holder logs into Memo1
    QString asked;
    SetInputBoxPresenter([&](const QString&, const QString& prompt, const QString& value) {
        asked = prompt + u'|' + value;
        return answer;
    });
    Ui::Find<QComboBox>(*r.w, u"ComboBox1"_s)->setCurrentIndex(0);
    r.w->ComboBox1Change();
    SetInputBoxPresenter({});
    QCOMPARE(asked, u"Please Input Custom Baudrate:|9600"_s);
    QCOMPARE(Ui::Find<QComboBox>(*r.w, u"ComboBox1"_s)->currentIndex(), position);
    QCOMPARE(r.Obj(r.a)->CustomBaudRate(), rate);
    QCOMPARE(r.env.boxes.last(), r.w->ApplicationTitle() + u'|' + box);
    QCOMPARE(HasLine(r.Memo1(), u"You have set custom baudrate to: "_s + answer), position == 0);
}

void TstDevices::rightClickOnTabs_data()
{
    QTest::addColumn<int>("page"); // -1: the waveform page
    QTest::addColumn<bool>("menu");
    QTest::newRow("device page") << 1 << true;
    QTest::newRow("main view of the holder") << 0 << true;
    QTest::newRow("waveform page") << -1 << false;
}

void TstDevices::rightClickOnTabs()
{
    QFETCH(int, page);
    QFETCH(bool, menu);
    Rig r;
    TSplitViewForm& w = *r.w;
    r.Press(r.a);
    r.Press(r.b);
    const int index = page >= 0 ? page : Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCount() - 2;
    Ui::Find<TTabSet>(w, u"TabSet2"_s)->setCurrentIndex(index);
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->currentIndex(), index);
    const QString shown = Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaption(index);

    QTest::mousePress(Ui::Find<TTabSet>(w, u"TabSet2"_s), Qt::RightButton, {},
                      Ui::Find<TTabSet>(w, u"TabSet2"_s)->tabRect(0).center());
    QCOMPARE(Ui::Find<QMenu>(w, u"PopupMenu1"_s)->isVisible(), menu);
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->currentIndex(), index); // the strip selects no tab
    if (!menu) return;
    QCOMPARE(Ui::Find<QAction>(w, u"CloseTheDevice1"_s)->text(), u"Close The Device"_s);
    QCOMPARE(w.GetCurrentDeviceName(), shown);
    Ui::Find<QMenu>(w, u"PopupMenu1"_s)->hide();
    Ui::Find<QAction>(w, u"CloseTheDevice1"_s)->trigger();
    QVERIFY(!w.GetDeciceByFullName(shown)->Connected());
}

void TstDevices::removalClosesPort_data()
{
    QTest::addColumn<bool>("peerVanishes");
    QTest::newRow("pty peer closed") << true;
    QTest::newRow("removal event") << false;
}

void TstDevices::removalClosesPort()
{
    QFETCH(bool, peerVanishes);
    Rig r;
    TSplitViewForm& w = *r.w;
    r.Press(r.a);
    r.Press(r.b);
    TCvComPortObj* A = r.Obj(r.a);
    TCvComPortObj* B = r.Obj(r.b);
    if (peerVanishes) r.b.CloseMaster();
    else w.WMDeviceChange(TSplitViewForm::DeviceRemoveComplete, r.b.SlavePath());
    // On a loaded machine, noticing the loss and rescanning the list can take longer than
    // the default five seconds; only a port that is never closed should fail here.
    QTRY_VERIFY_WITH_TIMEOUT(!B->Connected(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(HasLine(r.Memo1(), u"Device "_s + r.b.SlavePath() + u" was removed"_s), 20000);
    // Whichever notices first, the port's saved log ends with its removal.
    QVERIFY(ReadFile(w.PortLogFileName(B))
                .contains((u"Device "_s + Name(r.b) + u" was removed.\r\n"_s).toUtf8()));
    QVERIFY(!Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions().contains(Name(r.b)));
    QCOMPARE(Ui::Find<TTabSet>(w, u"TabSet2"_s)->Tabs(),
             Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions());
    QVERIFY(A->Connected());
    if (peerVanishes)
        QTRY_COMPARE_WITH_TIMEOUT(Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)->findText(Name(r.b)), -1, 20000);
    QCOMPARE(w.GetCurrentDeviceName(), Name(r.a));

    // The holder goes the same way, with its message in Memo1.
    if (peerVanishes) r.a.CloseMaster();
    else w.WMDeviceChange(TSplitViewForm::DeviceRemoveComplete, r.a.SlavePath());
    QTRY_VERIFY_WITH_TIMEOUT(!A->Connected(), 20000);
    QTRY_VERIFY(HasLine(r.Memo1(), u"Device "_s + r.a.SlavePath() + u" was closed."_s));
    QCOMPARE(w.Memo1Tag(), nullptr);
}

void TstDevices::returningPortKeepsObject()
{
    Rig r;
    TSplitViewForm& w = *r.w;
    TCvComPortObj* A = r.Obj(r.a);
    QCOMPARE(A->BaudRate(), int(br9600));
    // A settings file written now is not read again.
    r.env.WriteSetting(SafeFileNamePart(Name(r.a)) + ".ini", "Port=x\r\nBaudRate=300\r\n");
    QVERIFY(w.RemoveVirtualPort(r.a.SlavePath()));
    QCOMPARE(Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)->findText(Name(r.a)), -1);
    QVERIFY(!w.VirtualPortPaths().contains(r.a.SlavePath()));
    QVERIFY(w.AddVirtualPort(r.a.SlavePath()));
    QVERIFY(Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)->findText(Name(r.a)) >= 0);
    QCOMPARE(r.Obj(r.a), A);
    QCOMPARE(A->BaudRate(), int(br9600));
    w.WMDeviceChange(TSplitViewForm::DeviceArrival, r.a.SlavePath());
    QVERIFY(HasLine(r.Memo1(), u"Device "_s + r.a.SlavePath() + u" was attached"_s));
    QCOMPARE(r.Obj(r.a), A);
}

void TstDevices::openFailureShowsHint()
{
    Rig r;
    TSplitViewForm& w = *r.w;
    w.DeviceMonitor()->Stop();
    const bool root = ::geteuid() == 0;
    if (!root) QCOMPARE(::chmod(r.a.SlavePath().toLocal8Bit().constData(), 0), 0);
    else r.a.CloseMaster(); // root opens anything: a vanished device stands in
    r.Press(r.a);
    QVERIFY(!r.Obj(r.a)->Connected());
    const QStringList memo = r.Memo1();
    QVERIFY(HasLine(memo, u"Can not open  "_s + Name(r.a)));
    const QString hint = root ? u"The device does not exist"_s : u"dialout"_s;
    QVERIFY(std::any_of(memo.cbegin(), memo.cend(), [&](const QString& l) { return l.contains(hint); }));
}

void TstDevices::panelAtPressRunsOwnPage()
{
    Rig r;
    TSplitViewForm& w = *r.w;
    r.Press(r.a); // A holds the main view at 9600
    r.Select(r.b);
    Ui::Find<QComboBox>(w, u"ComboBox1"_s)->setCurrentIndex(br115200);
    Ui::Find<QComboBox>(w, u"ComboBox7"_s)->setCurrentIndex(rfHex);
    Ui::Find<QPushButton>(w, u"Button2"_s)->click();
    TCvComPortObj* B = r.Obj(r.b);
    QVERIFY(B->Connected());
    QCOMPARE(B->BaudRate(), int(br115200));
    QCOMPARE(B->FReceiveFormat.load(), int(rfHex));
    QCOMPARE(r.Obj(r.a)->BaudRate(), int(br9600));
}

void TstDevices::reopenAfterClose_data()
{
    QTest::addColumn<bool>("onOwnPage");
    QTest::newRow("main view") << false;
    QTest::newRow("own page") << true;
}

void TstDevices::reopenAfterClose()
{
    QFETCH(bool, onOwnPage);
    Rig r;
    TSplitViewForm& w = *r.w;
    if (onOwnPage) r.Press(r.a);
    const PtyPair& d = onOwnPage ? r.b : r.a;
    TCvComPortObj* obj = r.Obj(d);
    for (int round = 0; round < 2; ++round) {
        r.Press(d);
        QVERIFY(obj->Connected());
        QCOMPARE(obj->LogView() == Ui::Find<TLogMemo>(w, u"Memo1"_s), !onOwnPage);
        QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions().count(Name(d)), 1);
        r.Press(d);
        QVERIFY(!obj->Connected());
        QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions().count(Name(d)), 0);
    }
    r.Press(d);
    obj->Log(u"after two rounds"_s);
    QVERIFY(HasLine(Lines(obj->LogView()), u"after two rounds"_s));
}

void TstDevices::portMatchesWholeName_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("entry"); // -1: none
    QTest::newRow("COM3") << u"COM3"_s << 0;
    QTest::newRow("COM30") << u"COM30"_s << 1;
    QTest::newRow("part of a name") << u"COM"_s << -1;
    QTest::newRow("empty") << QString() << -1;
}

void TstDevices::portMatchesWholeName()
{
    QFETCH(QString, port);
    QFETCH(int, entry);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    const QStringList names{u"USB Serial Port (COM3)"_s, u"USB Serial Port (COM30)"_s};
    for (const QString& n : names) w->Devices()->Adopt(n, new TCvComPortObj(nullptr, n));
    TCvComPortObj* want = entry < 0 ? nullptr : w->GetDeciceByFullName(names.at(entry));
    QCOMPARE(w->GetDeciceByPort(port), want);
    // A removal of that port closes nothing else and keeps the list as the system has it.
    w->WMDeviceChange(TSplitViewForm::DeviceRemoveComplete, port);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->count(), 0);
}

void TstDevices::addPortFromDeviceListMenu_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("a pty") << true;
    QTest::newRow("no such path") << false;
}

void TstDevices::addPortFromDeviceListMenu()
{
    QFETCH(bool, exists);
    UiTestEnv env;
    PtyPair p;
    auto w = UiTestEnv::Start("en_US");
    const QString path = exists ? p.SlavePath() : env.tmp.path() + u"/nope"_s;
    SetInputBoxPresenter([&](const QString&, const QString&, const QString&) { return path; });
    auto* add = Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findChild<QAction*>(u"AddVirtualPort1"_s);
    QVERIFY(add);
    add->trigger();
    SetInputBoxPresenter({});
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(u"Virtual Port (%1)"_s.arg(path)) >= 0,
             exists);
    QCOMPARE(HasLine(Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s)), u"Virtual port "_s + path + u" was added"_s),
             exists);
    QCOMPARE(HasLine(Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s)),
                     u"Can not add virtual port "_s + path + u": no such file"_s),
             !exists);
    // Kept for the next run.
    QCOMPARE(ReadFile(w->SettingsFileName()).contains(path.toUtf8()), exists);
}

void TstDevices::selectingOpenDeviceShowsItsFormats()
{
    Rig r;
    TSplitViewForm& w = *r.w;
    r.Select(r.a);
    Ui::Find<QComboBox>(w, u"ComboBox6"_s)->setCurrentIndex(sfHex);
    Ui::Find<QComboBox>(w, u"ComboBox7"_s)->setCurrentIndex(rfGraphic);
    Ui::Find<QCheckBox>(w, u"CheckBox9"_s)->setChecked(false);
    Ui::Find<QPushButton>(w, u"Button2"_s)->click();
    QVERIFY(r.Obj(r.a)->Connected());
    Ui::Find<QComboBox>(w, u"ComboBox6"_s)->setCurrentIndex(sfAscii);
    Ui::Find<QComboBox>(w, u"ComboBox7"_s)->setCurrentIndex(rfAscii);
    Ui::Find<QCheckBox>(w, u"CheckBox9"_s)->setChecked(true);
    r.Select(r.b);
    r.Select(r.a);
    QCOMPARE(Ui::Find<QComboBox>(w, u"ComboBox6"_s)->currentText(), u"Hexadecimal Format"_s);
    QCOMPARE(Ui::Find<QComboBox>(w, u"ComboBox7"_s)->currentText(), u"Graphic"_s);
    QVERIFY(!Ui::Find<QCheckBox>(w, u"CheckBox9"_s)->isChecked());
    QVERIFY(r.Obj(r.a)->Series()); // the waveform it draws into
}

void TstDevices::openPortSettingsKeptAtShutdown()
{
    Rig r;
    r.Select(r.a);
    r.w->findChild<QComboBox*>(u"ComboBox1"_s)->setCurrentIndex(br115200);
    r.w->findChild<QPushButton*>(u"Button2"_s)->click();
    QVERIFY(r.Obj(r.a)->Connected());
    // Closing the window while the port is open keeps its line settings as closing the port does.
    r.w->close();
    r.w.reset();
    QVERIFY(QFile::exists(r.env.SettingDir() + SafeFileNamePart(Name(r.a)) + ".ini"));

    r.w = UiTestEnv::Start("en_US");
    r.Select(r.a);
    QCOMPARE(r.w->findChild<QComboBox*>(u"ComboBox1"_s)->currentText(), u"115200"_s);
}

void TstDevices::openingKeepsBlockText_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::newRow("English") << QByteArray("en_US");
    QTest::newRow("Chinese") << QByteArray("zh_CN");
}

void TstDevices::openingKeepsBlockText()
{
    QFETCH(QByteArray, locale);
    Rig r(locale.constData());
    auto* memo2 = r.w->findChild<QPlainTextEdit*>(u"Memo2"_s);
    memo2->setPlainText(u"AA BB CC"_s);
    r.Press(r.a);
    // The second device gets a page of its own, with the banner: the user's block stays.
    r.Press(r.b);
    QVERIFY(r.Obj(r.b)->Connected());
    QVERIFY(Lines(r.Obj(r.b)->LogView()).first().endsWith(QString(61, u'#')));
    r.w->findChild<QCheckBox*>(u"CheckBox6"_s)->click();
    QCOMPARE(memo2->toPlainText(), u"AA BB CC"_s);
}

void TstDevices::openButtonFollowsLanguageWithEmptyList()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    auto* button = w->findChild<QPushButton*>(u"Button2"_s);
    auto* english = w->findChild<QCheckBox*>(u"CheckBox6"_s);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->count(), 0);
    QCOMPARE(button->text(), u"Open The Device"_s);
    english->click();
    QCOMPARE(button->text(), u"打开串口设备"_s);
    english->click();
    QCOMPARE(button->text(), u"Open The Device"_s);
}

void TstDevices::longNameElidedInThePanel()
{
    UiTestEnv env;
    PtyPair a;
    // The simulator's link under a deep runtime folder.
    QString folder = env.tmp.path() + u"/run/user/1000"_s;
    for (int i = 0; i < 4; ++i) folder += u"/corvane-runtime-folder-with-a-long-name-%1"_s.arg(i);
    QVERIFY(QDir().mkpath(folder));
    const QString link = folder + u"/corvane-sim-tty"_s;
    QVERIFY(QFile::link(a.SlavePath(), link));

    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    Ui::Find<TSplitView>(*w, u"SV_L"_s)->SetOpened(true);
    QVERIFY(w->AddVirtualPort(link));
    const QString name = u"Virtual Port (%1)"_s.arg(link);
    auto* list = w->findChild<QComboBox*>(u"ComboBoxEx1"_s);
    auto* button = w->findChild<QPushButton*>(u"Button2"_s);
    list->setCurrentIndex(list->findText(name));
    w->ComboBoxEx1Change();
    QCOMPARE(button->text(), u"Open The Device "_s + link);

    QScrollArea* scroll = nullptr;
    for (QWidget* p = list; p && !scroll; p = p->parentWidget()) scroll = qobject_cast<QScrollArea*>(p);
    QVERIFY(scroll);
    QTRY_VERIFY(scroll->viewport()->width() > 100);
    QTest::qWait(50); // layouts settle through posted events
    QWidget* content = scroll->widget();
    // Nothing on the page reaches past the panel: the content is as wide as what shows of it.
    QVERIFY2(content->width() <= scroll->viewport()->width(),
             qPrintable(u"%1 > %2"_s.arg(content->width()).arg(scroll->viewport()->width())));
    QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);
    for (QWidget* c : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!c->isVisible()) continue;
        QVERIFY2(c->geometry().right() < content->width(), qPrintable(c->objectName()));
    }
    // The whole name stays in the tool tips.
    button->grab();
    QCOMPARE(button->toolTip(), button->text());
    QCOMPARE(list->toolTip(), name);
    QCOMPARE(list->itemData(list->currentIndex(), Qt::ToolTipRole).toString(), name);
}

QTEST_MAIN(TstDevices)
#include "tst_devices.moc"
