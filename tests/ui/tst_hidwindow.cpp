#include "THidScriptedBackend.h"
#include "TLogMemo.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

// A HID device in the window, over a scripted HID system: listed as it comes and goes, opened
// and closed from the open button, its reports shown in the main log, the block sent to it.
class TstHidWindow : public QObject {
    Q_OBJECT
private slots:
    void openReadWriteClose();
    void openFailureSaysWhy_data();
    void openFailureSaysWhy();
    void blockEchoOnlyWhatWasWritten_data();
    void blockEchoOnlyWhatWasWritten();
    void blockLongerThanTheReport();
    void unplugWhileOpen();
    void listedAtStartAndAsTheyComeAndGo();
    void openButtonFollowsLanguage();
};

namespace {
QStringList Memo1Lines(TSplitViewForm& w)
{
    QStringList out;
    for (qint64 i = 0; i < Ui::Find<TLogMemo>(w, u"Memo1"_s)->Model().LineCount(); ++i)
        out << Ui::Find<TLogMemo>(w, u"Memo1"_s)->Model().Line(i);
    return out;
}

const QByteArray kPath = "/dev/hidraw7";
const QString kName = u"Keyboard VID 0x00AB PID 0x00CD"_s;

THidScriptedBackend::TDevice Keyboard(QByteArray descriptor = THidScriptedBackend::Descriptor(8, 64))
{
    return {kPath, u"Keyboard"_s, 0x00AB, 0x00CD, std::move(descriptor)};
}

// A window over a scripted HID system that holds the given devices from the start.
struct HidRig {
    UiTestEnv env;
    THidScriptedBackend* backend = nullptr;
    std::unique_ptr<TSplitViewForm> w;

    explicit HidRig(QList<THidScriptedBackend::TDevice> present = {}, const char* locale = "en_US")
    {
        TSplitViewForm::SetHidBackendFactory([&] {
            auto b = std::make_unique<THidScriptedBackend>();
            for (const auto& d : present) b->Plug(d);
            backend = b.get();
            return b;
        });
        w = UiTestEnv::Start(locale);
        TSplitViewForm::SetHidBackendFactory({});
    }
    template <class T> T* Find(const QString& name) const { return w->findChild<T*>(name); }
    QPushButton* Button2() const { return Find<QPushButton>(u"Button2"_s); }
    QComboBox* DeviceList() const { return Find<QComboBox>(u"ComboBoxEx1"_s); }
    void Select(const QString& name)
    {
        QTRY_VERIFY(DeviceList()->findText(name) >= 0);
        DeviceList()->setCurrentIndex(DeviceList()->findText(name));
        w->ComboBoxEx1Change();
    }
    void SendBlock(const QString& text)
    {
        Find<QPlainTextEdit>(u"Memo2"_s)->setPlainText(text);
        Find<QPushButton>(u"Button8"_s)->click();
    }
};
} // namespace

void TstHidWindow::openReadWriteClose()
{
    HidRig r;
    QVERIFY(r.backend);
    r.backend->Plug(Keyboard());
    r.Select(kName);
    QCOMPARE(r.Button2()->text(), u"Open The HID Device PID 0x00CD"_s);

    r.Button2()->click();
    QCOMPARE(r.Button2()->text(), u"Close The Device"_s);
    // A 9-byte input report (report id 0, left out by the system) shows as 8 groups.
    r.backend->QueueReport(kPath, QByteArray::fromHex("1112131415161718"));
    QTRY_VERIFY(Memo1Lines(*r.w).join('\n').contains(QLatin1String("11 12 13 14 15 16 17 18 ")));

    r.SendBlock(u"01 02 03"_s);
    QTRY_COMPARE(r.backend->Written(kPath).size(), 1);
    QCOMPARE(r.backend->Written(kPath).first(), QByteArray::fromHex("010203") + QByteArray(62, '\0'));
    QVERIFY(Memo1Lines(*r.w).last().endsWith(QLatin1String("> 01 02 03 ")));

    r.Button2()->click();
    QCOMPARE(r.Button2()->text(), u"Open The HID Device PID 0x00CD"_s);
    QTRY_COMPARE(r.backend->OpenHandles(kPath), 0);
}

void TstHidWindow::openFailureSaysWhy_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");
    QTest::newRow("root-only node") << EACCES << u"permission denied. Install the udev rule"_s;
    QTest::newRow("busy") << EBUSY << u"the device is in use by another program."_s;
}

void TstHidWindow::openFailureSaysWhy()
{
    QFETCH(int, error);
    QFETCH(QString, reason);
    THidScriptedBackend::TDevice held = Keyboard();
    held.Openable = false;
    held.OpenError = error;
    HidRig r({held});
    r.Select(kName);
    r.Button2()->click();
    // Left closed, and said why.
    QCOMPARE(r.Button2()->text(), u"Open The HID Device PID 0x00CD"_s);
    QVERIFY(Memo1Lines(*r.w).last().contains(u"Can not open HID device "_s + kName + u": "_s + reason));
    QCOMPARE(r.backend->OpenHandlesTotal(), 0);
    // Nothing is sent to a device that is not open, and no echo says otherwise.
    r.SendBlock(u"01 02"_s);
    QVERIFY(
        Memo1Lines(*r.w).last().endsWith(u"Can not write to HID device "_s + kName + u": it is not open."_s));
    QVERIFY(r.backend->Written(kPath).isEmpty());
    // Once the user may open it, the same button opens it.
    r.backend->Unplug(kPath);
    held.Openable = true;
    r.backend->Plug(held);
    r.Select(kName);
    r.Button2()->click();
    QCOMPARE(r.Button2()->text(), u"Close The Device"_s);
    QCOMPARE(r.backend->OpenHandles(kPath), 1);
}

void TstHidWindow::blockEchoOnlyWhatWasWritten_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("outputBytes");
    QTest::addColumn<QString>("line");
    QTest::newRow("not open") << false << 64 << u"it is not open."_s;
    QTest::newRow("no output report") << true << 0 << u"it has no output report."_s;
}

void TstHidWindow::blockEchoOnlyWhatWasWritten()
{
    QFETCH(bool, open);
    QFETCH(int, outputBytes);
    QFETCH(QString, line);
    HidRig r({Keyboard(THidScriptedBackend::Descriptor(8, outputBytes))});
    r.Select(kName);
    if (open) r.Button2()->click();
    r.SendBlock(u"01 02 03"_s);
    const QStringList lines = Memo1Lines(*r.w);
    QVERIFY(lines.last().endsWith(u"Can not write to HID device "_s + kName + u": "_s + line));
    for (const QString& l : lines) QVERIFY2(!l.contains(u"> 01 02 03"_s), qPrintable(l));
    QVERIFY(r.backend->Written(kPath).isEmpty());
}

void TstHidWindow::blockLongerThanTheReport()
{
    // Report id and 3 data bytes: 4 bytes go out, the echo says which.
    HidRig r({Keyboard(THidScriptedBackend::Descriptor(8, 3))});
    r.Select(kName);
    r.Button2()->click();
    r.SendBlock(u"01 02 03 04 05 06"_s);
    QCOMPARE(r.backend->Written(kPath), QList<QByteArray>{QByteArray::fromHex("01020304")});
    const QStringList lines = Memo1Lines(*r.w);
    QVERIFY(lines.at(lines.size() - 2).endsWith(u"> 01 02 03 04 "_s));
    QVERIFY(lines.last().endsWith(u"HID send: the output report holds 4 bytes; 2 more were not sent."_s));
}

void TstHidWindow::unplugWhileOpen()
{
    const QString pad = u"Pad VID 0x00AB PID 0x00CD"_s;
    THidScriptedBackend::TDevice d{kPath, u"Pad"_s, 0x00AB, 0x00CD, THidScriptedBackend::Descriptor(8, 8)};
    HidRig r({d});
    r.Select(pad);
    r.Button2()->click();
    QCOMPARE(r.backend->OpenHandles(kPath), 1);

    r.backend->Unplug(kPath);
    QTRY_VERIFY(
        Memo1Lines(*r.w).join('\n').contains(u"HID device "_s + pad + u" was unplugged and closed."_s));
    QCOMPARE(r.backend->OpenHandlesTotal(), 0);
    QTRY_COMPARE(r.DeviceList()->findText(pad), -1);
    QVERIFY(r.Button2()->text() != u"Close The Device"_s);

    // Plugged in again, it comes back under its own name and opens.
    r.backend->Plug(d);
    r.Select(pad);
    QCOMPARE(r.DeviceList()->findText(pad + u" #2"_s), -1);
    r.Button2()->click();
    QCOMPARE(r.Button2()->text(), u"Close The Device"_s);
    r.backend->QueueReport(kPath, QByteArray::fromHex("0102030405060708"));
    QTRY_VERIFY(Memo1Lines(*r.w).last().endsWith(u"01 02 03 04 05 06 07 08 "_s));
}

void TstHidWindow::listedAtStartAndAsTheyComeAndGo()
{
    HidRig r({Keyboard()});
    // Present at start: listed without a refresh.
    QTRY_VERIFY(r.DeviceList()->findText(kName) >= 0);
    const QString mouse = u"Mouse VID 0x1234 PID 0x5678"_s;
    r.backend->Plug({"/dev/hidraw8", u"Mouse"_s, 0x1234, 0x5678, THidScriptedBackend::Descriptor(4, 0)});
    QTRY_VERIFY(r.DeviceList()->findText(mouse) >= 0);
    // The selection stays where the user put it while other devices come and go.
    r.Select(mouse);
    r.backend->Unplug(kPath);
    QTRY_COMPARE(r.DeviceList()->findText(kName), -1);
    QCOMPARE(r.DeviceList()->currentText(), mouse);
}

void TstHidWindow::openButtonFollowsLanguage()
{
    HidRig r({Keyboard()});
    auto* english = r.Find<QCheckBox>(u"CheckBox6"_s);
    r.Select(kName);
    english->click();
    QCOMPARE(r.Button2()->text(), u"打开 HID 设备 PID 0x00CD"_s);
    r.Button2()->click();
    QCOMPARE(r.Button2()->text(), u"关闭设备"_s);
    english->click();
    QCOMPARE(r.Button2()->text(), u"Close The Device"_s);
    r.Button2()->click();
    QCOMPARE(r.Button2()->text(), u"Open The HID Device PID 0x00CD"_s);
}

QTEST_MAIN(TstHidWindow)
#include "tst_hidwindow.moc"
