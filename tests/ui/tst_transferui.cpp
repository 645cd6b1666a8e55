// File transfers from the window: the protocol choice, send and receive buttons, progress,
// cancel and the log lines, with lrzsz as the device at the far end of a pty relay.

#include "LrzszPeer.h"
#include "PtyRelay.h"
#include "TCvXmodem.h"
#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A window with one device: a port on the relay's pty, selected and open.
struct TransferWindow {
    UiTestEnv env;
    PtyRelay relay;
    WindowDevice dev;
    std::unique_ptr<TSplitViewForm> w;
    QString inFolder;

    explicit TransferWindow(const char* locale = "en_US")
    {
        w = UiTestEnv::Start(locale);
        w->show();
        dev.Attach(*w, rfAscii, relay.A().SlavePath());
        inFolder = env.tmp.filePath(u"in"_s);
        QDir().mkpath(inFolder);
        TCvXmodemTimes t;
        t.StartMs = 20000;
        t.ReplyMs = 3000;
        t.StartIntervalMs = 500;
        t.BlockMs = 3000;
        w->FileSender()->SetXmodemTimes(t);
    }
    void Protocol(const QString& name)
    {
        auto* box = Ui::Find<QComboBox>(*w, u"ComboTransferProtocol"_s);
        box->setCurrentIndex(box->findText(name));
        QCOMPARE(box->currentText(), name);
    }
    void Load(const QString& path)
    {
        w->OpenDialog1 = [path] { return path; };
        Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
        QVERIFY(w->FileStream());
    }
    bool Idle(int ms)
    {
        return RunUntil([this] { return !w->SendingFile(); }, ms);
    }
    // What the peer's end got, when no lrzsz reads it.
    QByteArray PeerBytes(int ms)
    {
        QByteArray got;
        RunUntil(
            [&] {
                char buf[4096];
                for (;;) {
                    const ssize_t n = ::recv(relay.PeerFd(), buf, sizeof buf, MSG_DONTWAIT);
                    if (n <= 0) break;
                    got.append(buf, n);
                }
                return false;
            },
            ms);
        return got;
    }
};

} // namespace

class TstTransferUi : public QObject {
    Q_OBJECT
private slots:
    void sendWithEachProtocol_data();
    void sendWithEachProtocol();
    void receiveIntoTheChosenFolder_data();
    void receiveIntoTheChosenFolder();
    void cancelFromTheBox();
    void otherSendsWaitForTheTransfer();
    void silentSenderTimesOut();
    void zmodemWithoutLrzsz();
    void rawHasNoReceive();
    void captionsInBothLanguages();
};

void TstTransferUi::sendWithEachProtocol_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("blocks");
    QTest::newRow("XMODEM to rx") << u"XMODEM"_s << u"rx"_s << QStringList{u"-c"_s, u"got.bin"_s}
                                  << u"got.bin"_s << u" in 40 blocks, 0 retries"_s;
    QTest::newRow("XMODEM-1K to rx") << u"XMODEM-1K"_s << u"rx"_s << QStringList{u"-c"_s, u"got.bin"_s}
                                     << u"got.bin"_s << u" in 5 blocks, 0 retries"_s;
    QTest::newRow("YMODEM to rb") << u"YMODEM"_s << u"rb"_s << QStringList() << u"image.bin"_s
                                  << u" in 5 blocks, 0 retries"_s;
    QTest::newRow("ZMODEM to rz") << u"ZMODEM"_s << u"rz"_s << QStringList{u"-b"_s} << u"image.bin"_s
                                  << QString();
}

// Load a file, pick the protocol, send: the device gets the file, the log tells the start
// and the end with the counts, and nothing the device answered shows in the log.
void TstTransferUi::sendWithEachProtocol()
{
    QFETCH(QString, protocol);
    QFETCH(QString, peer);
    QFETCH(QStringList, args);
    QFETCH(QString, result);
    QFETCH(QString, blocks);
    TransferWindow t;
    const QByteArray data = Pattern(5000, 1);
    const QString path = WriteFile(t.env.tmp.filePath(u"image.bin"_s), data);
    t.Load(path);
    t.Protocol(protocol);
    const QString panel = t.w->StatusPanels[1]->text();
    LrzszPeer device(t.relay.PeerFd(), peer, args, t.inFolder);
    Ui::Find<QPushButton>(*t.w, u"Button24"_s)->click();
    QVERIFY(t.w->SendingFile());
    QVERIFY(!Ui::Find<QPushButton>(*t.w, u"Button24"_s)->isEnabled());
    QVERIFY(!Ui::Find<QComboBox>(*t.w, u"ComboTransferProtocol"_s)->isEnabled());
    QVERIFY(t.Idle(60000));
    QCOMPARE(device.Wait(20000), 0);
    const QByteArray got = ReadWhole(QDir(t.inFolder).filePath(result));
    QVERIFY(got.startsWith(data));
    QCOMPARE(got.mid(data.size()), QByteArray(got.size() - data.size(), '\x1A'));
    const QStringList lines = t.dev.Lines();
    const qsizetype start = lines.indexOf(u"> Start Sending File:"_s + path);
    QVERIFY(start >= 0);
    QVERIFY(lines.at(start + 1).startsWith(protocol + u": waiting for the receiver"_s));
    // Then only the end: the device's answers went to the transfer, not to the log.
    QCOMPARE(lines.size(), start + 3);
    QVERIFY2(QRegularExpression(u"^%1: sent 5,000 bytes%2 \\(\\d+\\.\\d s\\)$"_s.arg(
                                    QRegularExpression::escape(protocol), QRegularExpression::escape(blocks)))
                 .match(lines.last())
                 .hasMatch(),
             qPrintable(lines.last()));
    QCOMPARE(t.w->StatusPanels[1]->text(), panel);
    QVERIFY(Ui::Find<QPushButton>(*t.w, u"Button24"_s)->isEnabled());
    QVERIFY(!t.w->FileStream());
    QCOMPARE(Ui::Find<QLabel>(*t.w, u"LabelTransferProgress"_s)->text(), QString());
    QVERIFY(Ui::Find<QPushButton>(*t.w, u"ButtonTransferCancel"_s)->isHidden());
}

void TstTransferUi::receiveIntoTheChosenFolder_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("peer");
    QTest::newRow("YMODEM from sb") << u"YMODEM"_s << u"sb"_s;
    QTest::newRow("ZMODEM from sz") << u"ZMODEM"_s << u"sz"_s;
}

// Receive asks for a folder once; the files land there, each said in the log, and the
// folder is remembered in Corvane.ini for the next start.
void TstTransferUi::receiveIntoTheChosenFolder()
{
    QFETCH(QString, protocol);
    QFETCH(QString, peer);
    TransferWindow t;
    WriteFile(t.env.tmp.filePath(u"one.txt"_s), "first file\n");
    WriteFile(t.env.tmp.filePath(u"two.bin"_s), Pattern(3000, 2));
    t.Protocol(protocol);
    int asked = 0;
    t.w->ReceiveFolderDialog = [&](const QString&) {
        ++asked;
        return t.inFolder;
    };
    Ui::Find<QPushButton>(*t.w, u"ButtonReceiveFile"_s)->click();
    QCOMPARE(asked, 1);
    QVERIFY(t.w->SendingFile());
    LrzszPeer device(t.relay.PeerFd(), peer, {u"one.txt"_s, u"two.bin"_s}, t.env.tmp.path());
    QVERIFY(t.Idle(60000));
    QCOMPARE(device.Wait(20000), 0);
    QCOMPARE(ReadWhole(QDir(t.inFolder).filePath(u"one.txt"_s)), QByteArray("first file\n"));
    QCOMPARE(ReadWhole(QDir(t.inFolder).filePath(u"two.bin"_s)), Pattern(3000, 2));
    const QStringList lines = t.dev.Lines();
    QVERIFY(lines.first().startsWith(protocol + u": waiting for the sender"_s));
    QVERIFY(lines.contains(u"Received one.txt (11 bytes): "_s + QDir(t.inFolder).filePath(u"one.txt"_s)));
    QVERIFY(lines.contains(u"Received two.bin (3,000 bytes): "_s + QDir(t.inFolder).filePath(u"two.bin"_s)));
    QVERIFY2(lines.last().startsWith(protocol + u": received 2 files, 3,011 bytes"_s),
             qPrintable(lines.last()));
    QCOMPARE(Ui::Find<QLabel>(*t.w, u"LabelReceiveFolder"_s)->toolTip(), t.inFolder);

    // A second receive goes to the same folder without asking.
    Ui::Find<QPushButton>(*t.w, u"ButtonReceiveFile"_s)->click();
    QCOMPARE(asked, 1);
    QVERIFY(t.w->SendingFile());
    Ui::Find<QPushButton>(*t.w, u"Button26"_s)->click();
    QVERIFY(t.Idle(5000));

    // The next start shows the folder of the last time.
    t.w->close();
    t.w = UiTestEnv::Start("en_US");
    QCOMPARE(Ui::Find<QLabel>(*t.w, u"LabelReceiveFolder"_s)->toolTip(), t.inFolder);
    QCOMPARE(Ui::Find<QComboBox>(*t.w, u"ComboTransferProtocol"_s)->currentText(), protocol);
}

// The cancel button of the box stops a send in the middle: the device hears CAN and stops,
// and the log says how far it got.
void TstTransferUi::cancelFromTheBox()
{
    TransferWindow t;
    const QString path = WriteFile(t.env.tmp.filePath(u"big.bin"_s), Pattern(1024 * 1024, 3));
    t.Load(path);
    t.Protocol(u"YMODEM"_s);
    LrzszPeer device(t.relay.PeerFd(), u"rb"_s, {}, t.inFolder);
    Ui::Find<QPushButton>(*t.w, u"Button24"_s)->click();
    auto* progress = Ui::Find<QLabel>(*t.w, u"LabelTransferProgress"_s);
    QVERIFY(RunUntil([&] { return progress->text().contains(u"KiB/s"_s) || !t.w->SendingFile(); }, 30000));
    QVERIFY2(QRegularExpression(u"^YMODEM: big\\.bin, [\\d,]+ / 1,048,576 bytes, [\\d,]+ blocks?, 0 retries, "
                                u"[\\d.]+ [KM]iB/s$"_s)
                 .match(progress->text())
                 .hasMatch(),
             qPrintable(progress->text()));
    QCOMPARE(t.w->StatusPanels[1]->text(), progress->text());
    auto* cancel = Ui::Find<QPushButton>(*t.w, u"ButtonTransferCancel"_s);
    QVERIFY(!cancel->isHidden() && cancel->isEnabled());
    cancel->click();
    QVERIFY(t.Idle(5000));
    QVERIFY(device.Wait(10000) > 0);
    // What rb still sends (its own CANs) is dropped, and said, not shown as text.
    QVERIFY(RunUntil([&] { return !t.dev.obj->ReceiveDiversion(); }, 5000));
    QStringList lines = t.dev.Lines();
    if (lines.last().endsWith(u"bytes the device sent after the transfer had stopped were not shown."_s))
        lines.removeLast();
    QVERIFY2(QRegularExpression(u"^YMODEM: sending stopped after [\\d,]+ bytes: cancelled$"_s)
                 .match(lines.last())
                 .hasMatch(),
             qPrintable(lines.last()));
    QVERIFY(cancel->isHidden());
    QVERIFY(!t.w->FileStream());
}

// Block sends asked for during a transfer wait for its end, said once, and then go out in
// order; nothing of them, nor of the log's prompt, lands inside the transfer.
void TstTransferUi::otherSendsWaitForTheTransfer()
{
    TransferWindow t;
    t.Protocol(u"XMODEM"_s);
    t.w->ReceiveFolderDialog = [&](const QString&) { return t.inFolder; };
    Ui::Find<QPushButton>(*t.w, u"ButtonReceiveFile"_s)->click();
    QVERIFY(t.w->SendingFile());
    Ui::Find<QPlainTextEdit>(*t.w, u"Memo2"_s)->setPlainText(u"block"_s);
    t.w->Button8Click();
    t.w->Button8Click();
    // The log's prompt does not open, and Ctrl+C sends nothing into the transfer.
    QTest::keyClick(t.dev.memo, Qt::Key_Return);
    QTest::keyClick(t.dev.memo, Qt::Key_C, Qt::ControlModifier);
    QVERIFY(t.dev.memo->ReadOnly());
    // Only the receiver's C goes out meanwhile.
    const QByteArray during = t.PeerBytes(1200);
    QVERIFY(during.startsWith("C"));
    QCOMPARE(during, QByteArray(during.size(), 'C'));
    Ui::Find<QPushButton>(*t.w, u"Button26"_s)->click();
    QVERIFY(t.Idle(5000));
    const QByteArray after = t.PeerBytes(500);
    QVERIFY2(after.endsWith(QByteArray(8, '\x18') + "block\r\nblock\r\n"), after.toHex().constData());
    const QStringList lines = t.dev.Lines();
    QCOMPARE(lines.filter(u"A file transfer is running: other sends wait until it has ended."_s).size(), 1);
    QCOMPARE(lines.last(), u"XMODEM: receiving stopped after 0 bytes: cancelled"_s);
    QCOMPARE(QDir(t.inFolder).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// Nobody sends: the receive ends with a time-out line, and the window kept turning.
void TstTransferUi::silentSenderTimesOut()
{
    TransferWindow t;
    TCvXmodemTimes times;
    times.StartIntervalMs = 300;
    times.StartTries = 4;
    t.w->FileSender()->SetXmodemTimes(times);
    t.Protocol(u"YMODEM"_s);
    t.w->ReceiveFolderDialog = [&](const QString&) { return t.inFolder; };
    QElapsedTimer clock;
    qint64 last = -1, worst = 0;
    QTimer probe;
    probe.setInterval(10);
    connect(&probe, &QTimer::timeout, this, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0) worst = qMax(worst, now - last - 10);
        last = now;
    });
    clock.start();
    probe.start();
    Ui::Find<QPushButton>(*t.w, u"ButtonReceiveFile"_s)->click();
    QVERIFY(t.Idle(10000));
    probe.stop();
    qInfo("event loop at most %lld ms late while the receive waited", worst);
    QVERIFY2(worst < 1000, "the window stalled");
    QCOMPARE(t.dev.Lines().last(),
             u"YMODEM: receiving stopped after 0 bytes: no sender started within 2 s"_s);
}

// ZMODEM without lrzsz: one clear line saying what to install, nothing goes out, and the
// buttons are free again.
void TstTransferUi::zmodemWithoutLrzsz()
{
    TransferWindow t;
    const QString path = WriteFile(t.env.tmp.filePath(u"f.bin"_s), "abc");
    t.Load(path);
    t.Protocol(u"ZMODEM"_s);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", t.env.tmp.path().toUtf8());
    Ui::Find<QPushButton>(*t.w, u"Button24"_s)->click();
    qputenv("PATH", oldPath);
    QVERIFY(t.Idle(5000));
    QCOMPARE(t.dev.Lines().last(),
             u"ZMODEM: sending stopped after 0 bytes: ZMODEM needs the program sz of the "
             u"package lrzsz, which is not installed (sudo apt install lrzsz)"_s);
    QVERIFY(Ui::Find<QPushButton>(*t.w, u"Button24"_s)->isEnabled());
    QCOMPARE(t.PeerBytes(100), QByteArray());
}

// Raw sends as it always did; it has nothing to receive with.
void TstTransferUi::rawHasNoReceive()
{
    TransferWindow t;
    t.Protocol(u"XMODEM"_s);
    QVERIFY(Ui::Find<QPushButton>(*t.w, u"ButtonReceiveFile"_s)->isEnabled());
    Ui::Find<QComboBox>(*t.w, u"ComboTransferProtocol"_s)->setCurrentIndex(0);
    QVERIFY(!Ui::Find<QPushButton>(*t.w, u"ButtonReceiveFile"_s)->isEnabled());
    const QString path = WriteFile(t.env.tmp.filePath(u"r.bin"_s), "raw!");
    t.Load(path);
    Ui::Find<QPushButton>(*t.w, u"Button24"_s)->click();
    QVERIFY(t.Idle(5000));
    QCOMPARE(t.PeerBytes(300), QByteArray("raw!"));
    QCOMPARE(t.dev.Lines().last(), u"File have been sent successfully。"_s);
}

void TstTransferUi::captionsInBothLanguages()
{
    TransferWindow t("zh_CN");
    auto* box = Ui::Find<QGroupBox>(*t.w, u"GroupBoxTransfer"_s);
    QCOMPARE(box->title(), u"文件传输"_s);
    QCOMPARE(Ui::Find<QPushButton>(*t.w, u"ButtonReceiveFile"_s)->text(), u"接收文件"_s);
    QCOMPARE(Ui::Find<QComboBox>(*t.w, u"ComboTransferProtocol"_s)->itemText(0), u"原始数据（无协议）"_s);
    Ui::Find<QCheckBox>(*t.w, u"CheckBox6"_s)->click();
    QCOMPARE(box->title(), u"File transfer"_s);
    QCOMPARE(Ui::Find<QPushButton>(*t.w, u"ButtonReceiveFile"_s)->text(), u"Receive File"_s);
    QCOMPARE(Ui::Find<QPushButton>(*t.w, u"ButtonTransferCancel"_s)->text(), u"Cancel Transfer"_s);
    QCOMPARE(Ui::Find<QComboBox>(*t.w, u"ComboTransferProtocol"_s)->itemText(3), u"YMODEM"_s);
}

QTEST_MAIN(TstTransferUi)
#include "tst_transferui.moc"
