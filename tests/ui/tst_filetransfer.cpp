// File transfer from the main window and the counter panel, over real ptys.

#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include "TStringGrid.h"
#include "TUpDown.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString WriteBytes(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
    f.write(bytes);
    return path;
}

QByteArray Pattern(int n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i) b[i] = char(i * 7 + 3);
    return b;
}

} // namespace

class TstFileTransfer : public QObject {
    Q_OBJECT
private slots:
    void sendsInChunksOf32();
    void emptyFile();
    void sizeLimit_data();
    void sizeLimit();
    void refusals();
    void loadedFileIsReadOnlyAndLocked();
    void sendLocksItsButtonsAndShowsProgress();
    void deviceClosedDuringSendStopsIt();
    void otherSendsWaitForTheFile();
    void stalledDeviceStops_data();
    void stalledDeviceStops();
    void stalledDeviceTimesOut();
    void fileChangedAfterLoad_data();
    void fileChangedAfterLoad();
    void statusText();
};

void TstFileTransfer::sendsInChunksOf32()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    const QByteArray data = Pattern(33);
    const QString path = WriteBytes(env.tmp, u"f33.bin"_s, data);
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    QVERIFY(w->FileStream());
    QCOMPARE(w->FullFileNameLoaded(), path);
    QStringList lines = a.Lines();
    const qsizetype at = lines.indexOf(u"File Name: "_s + path);
    QVERIFY(at >= 1);
    QCOMPARE(lines.at(at - 1), u" "_s);
    QCOMPARE(lines.mid(at + 1, 2),
             QStringList({u"File Size: 33 Bytes"_s,
                          u"This file have been loaded,press the left-bottom button to start sending"_s}));

    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    QCOMPARE(a.pty->Read(33), data);
    QTRY_VERIFY(!w->SendingFile());
    lines = a.Lines();
    const qsizetype start = lines.indexOf(u"> Start Sending File:"_s + path);
    QVERIFY(start >= 0);
    QString first;
    for (int i = 0; i < 32; ++i) first += u"%1 "_s.arg(quint8(data[i]), 2, 16, QLatin1Char('0')).toUpper();
    QCOMPARE(lines.mid(start + 1),
             QStringList({first, u"%1 "_s.arg(quint8(data[32]), 2, 16, QLatin1Char('0')).toUpper(),
                          u"File have been sent successfully。"_s}));
    QCOMPARE(a.obj->FComSentCount.load(), 33);
    QVERIFY(!w->FileStream());
    QVERIFY(w->FullFileNameLoaded().isEmpty());
    // A second press does nothing: the file was released.
    const int count = a.Lines().size();
    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    QCOMPARE(a.Lines().size(), count);
    QCOMPARE(a.pty->ReadFor(50), QByteArray());
    QVERIFY(env.boxes.isEmpty());
}

void TstFileTransfer::emptyFile()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    const QString path = WriteBytes(env.tmp, u"empty"_s, {});
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    QVERIFY(a.Lines().contains(u"File Size: 0 Bytes"_s));
    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    QTRY_VERIFY(!w->SendingFile());
    const QStringList lines = a.Lines();
    QCOMPARE(lines.mid(lines.size() - 2),
             QStringList({u"> Start Sending File:"_s + path, u"File have been sent successfully。"_s}));
    QCOMPARE(a.pty->ReadFor(50), QByteArray());
}

void TstFileTransfer::sizeLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("exactly 5 MiB") << 5242880 << true;
    QTest::newRow("one byte more") << 5242881 << false;
}

void TstFileTransfer::sizeLimit()
{
    QFETCH(int, size);
    QFETCH(bool, loaded);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    const QString path = WriteBytes(env.tmp, u"big.bin"_s, QByteArray(size, 'x'));
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    const QStringList lines = a.Lines();
    QVERIFY(lines.contains(u"File Size: "_s + QString::number(size) + u" Bytes"_s));
    QCOMPARE(bool(w->FileStream()), loaded);
    QCOMPARE(w->FullFileNameLoaded().isEmpty(), !loaded);
    QCOMPARE(lines.contains(u"This file size is too biger,only support less then 5M size file."_s), !loaded);
}

void TstFileTransfer::refusals()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    bool asked = false;
    w->OpenDialog1 = [&] {
        asked = true;
        return QString();
    };
    // No device at all: load shows a box, send does nothing and shows nothing.
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->setCurrentIndex(-1);
    env.boxes.clear();
    w->Button23Click();
    QCOMPARE(env.boxes,
             QStringList({w->ApplicationTitle() + u"|     No device is found,please open a device.     "_s}));
    env.boxes.clear();
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->clear();
    w->Button24Click();
    QVERIFY(env.boxes.isEmpty());

    // A closed device: a log line and a box; nothing is asked.
    WindowDevice a;
    a.Attach(*w);
    a.obj->Close();
    w->Button23Click();
    QVERIFY(!asked);
    QVERIFY(a.Lines().contains(u"Device was closed,please open a device.    "_s));
    QCOMPARE(env.boxes,
             QStringList({w->ApplicationTitle() + u"|     Device was closed,please open a device.     "_s}));

    // A loaded file sent to a closed device stays loaded.
    env.boxes.clear();
    a.obj->Open();
    const QString path = WriteBytes(env.tmp, u"f.bin"_s, "abc");
    w->OpenDialog1 = [&] { return path; };
    w->Button23Click();
    QVERIFY(w->FileStream());
    a.obj->Close();
    w->Button24Click();
    QCOMPARE(a.Lines().last(), u"Device was closed,please open a device."_s);
    QVERIFY(w->FileStream());
}

void TstFileTransfer::loadedFileIsReadOnlyAndLocked()
{
    UiTestEnv env;
    const QString path = WriteBytes(env.tmp, u"locked.bin"_s, "data");
    // Held exclusively by a writer: not loaded.
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        QCOMPARE(TSplitViewForm::OpenFileStream(path), nullptr);
        ::close(fd);
    }
    std::unique_ptr<QFile> f(TSplitViewForm::OpenFileStream(path));
    QVERIFY(f);
    QCOMPARE(f->openMode(), QIODevice::ReadOnly);
    QCOMPARE(f->pos(), 0);
    QCOMPARE(f->write("x"), -1);
    // While loaded, a writer cannot take the file.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
    QVERIFY(fd >= 0);
    QVERIFY(::flock(fd, LOCK_EX | LOCK_NB) != 0);
    ::close(fd);
    QCOMPARE(TSplitViewForm::OpenFileStream(env.tmp.filePath(u"missing"_s)), nullptr);
}

void TstFileTransfer::sendLocksItsButtonsAndShowsProgress()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    PtyDrain drain(a.pty->MasterFd());
    const QByteArray data = Pattern(512 * 1024);
    const QString path = WriteBytes(env.tmp, u"half.bin"_s, data);
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    QVERIFY(w->FileStream());
    const QString panel = w->StatusPanels[1]->text();

    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    // The click returns while the file goes out from the event loop.
    QVERIFY(w->SendingFile());
    QVERIFY(!Ui::Find<QPushButton>(*w, u"Button23"_s)->isEnabled() &&
            !Ui::Find<QPushButton>(*w, u"Button24"_s)->isEnabled());
    // Closing stays possible: it stops the send.
    QVERIFY(Ui::Find<QPushButton>(*w, u"Button2"_s)->isEnabled() &&
            Ui::Find<QAction>(*w, u"CloseTheDevice1"_s)->isEnabled());
    auto* cancel = w->findChild<QPushButton*>(u"Button26"_s);
    QVERIFY(cancel && cancel->isVisible() && cancel->isEnabled());
    const QString progress = w->StatusPanels[1]->text();
    QVERIFY(progress.startsWith(u"Sending file: "_s));
    QVERIFY(progress.endsWith(u"%)"_s));
    // Neither a second send nor a new load starts inside the running one.
    const qsizetype before = a.Lines().size();
    w->Button24Click();
    w->Button23Click();
    QVERIFY(a.Lines().size() - before <= 2);
    QTRY_VERIFY_WITH_TIMEOUT(!w->SendingFile(), 60000);
    QTRY_COMPARE(drain.Size(), qint64(data.size()));
    QCOMPARE(drain.Data(), data);
    QVERIFY(Ui::Find<QPushButton>(*w, u"Button23"_s)->isEnabled() &&
            Ui::Find<QPushButton>(*w, u"Button24"_s)->isEnabled());
    QVERIFY(!cancel->isVisible());
    QCOMPARE(w->StatusPanels[1]->text(), panel);
    const QStringList lines = a.Lines();
    QCOMPARE(lines.filter(u"> Start Sending File:"_s).size(), 1);
    QCOMPARE(lines.last(), u"File have been sent successfully。"_s);
}

void TstFileTransfer::deviceClosedDuringSendStopsIt()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    PtyDrain drain(a.pty->MasterFd());
    const QString path = WriteBytes(env.tmp, u"half.bin"_s, Pattern(512 * 1024));
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    QTimer::singleShot(0, this, [&] { a.obj->Close(); });
    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    QTRY_VERIFY(!w->SendingFile());
    const QStringList lines = a.Lines();
    QCOMPARE(lines.last(),
             u"File sending stopped: the device was closed. %1 of 524288 bytes were sent."_s.arg(
                 a.obj->FComSentCount.load()));
    QVERIFY(!lines.contains(u"File have been sent successfully。"_s));
    QVERIFY(lines.filter(u"Device was closed,please open a device."_s).isEmpty());
    QVERIFY(a.obj->FComSentCount.load() < 512 * 1024);
    QVERIFY(!w->FileStream());
    QVERIFY(!w->SendingFile());
}

void TstFileTransfer::otherSendsWaitForTheFile()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    PtyDrain drain(a.pty->MasterFd());
    const QByteArray data = Pattern(256 * 1024);
    const QString path = WriteBytes(env.tmp, u"quarter.bin"_s, data);
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(1, 1, u"1"_s);
    Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 1, u"loop"_s);
    Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 2, u"row"_s);
    Ui::Find<TUpDown>(*w, u"UpDown3"_s)->SetPosition(0);
    Ui::Find<TUpDown>(*w, u"UpDown1"_s)->SetPosition(1);
    Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(u"block"_s);
    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    QVERIFY(w->SendingFile());
    w->Button1Click();
    w->Button8Click();
    w->StringGrid1FixedCellClick(0, 2);
    w->Button8Click();
    QTRY_VERIFY_WITH_TIMEOUT(!w->SendingFile(), 60000);
    w->Button3Click();
    QTRY_VERIFY(drain.Size() >= data.size() + 19);
    // The file went out whole and in one piece; the waiting sends after it, in order.
    QCOMPARE(drain.Data().left(data.size()), data);
    QVERIFY(drain.Data().mid(data.size()).startsWith("block\r\nrow\r\nblock\r\n"));
    // Said once each: sends wait, loop turns are skipped (and how many).
    const QStringList lines = a.Lines();
    QCOMPARE(lines.filter(u"A file is being sent: other sends wait until it has ended."_s).size(), 1);
    QCOMPARE(lines.filter(u"Loop sending skips its turns while a file is being sent."_s).size(), 1);
    QCOMPARE(lines
                 .filter(QRegularExpression(
                     u"^\\d+ turns of loop sending were skipped while the file was sent\\.$"_s))
                 .size(),
             1);
}

void TstFileTransfer::stalledDeviceStops_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("last");
    QTest::newRow("cancel button") << u"cancel"_s
                                   << u"File sending cancelled: %1 of 262144 bytes were sent."_s;
    QTest::newRow("port closed")
        << u"port"_s << u"File sending stopped: the device was closed. %1 of 262144 bytes were sent."_s;
    QTest::newRow("window closed") << u"window"_s
                                   << u"File sending cancelled: %1 of 262144 bytes were sent."_s;
}

// The device stops reading: the window keeps turning while a chunk is held back, and the
// send stops cleanly, saying how far it got.
void TstFileTransfer::stalledDeviceStops()
{
    QFETCH(QString, how);
    QFETCH(QString, last);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    const QString path = WriteBytes(env.tmp, u"quarter.bin"_s, Pattern(256 * 1024));
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    // How late a 10 ms timer fires while the send is stuck.
    QElapsedTimer clock;
    qint64 lastTick = -1, worst = 0;
    QTimer probe;
    probe.setInterval(10);
    connect(&probe, &QTimer::timeout, this, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick >= 0) worst = qMax(worst, now - lastTick - 10);
        lastTick = now;
    });
    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    QVERIFY(w->SendingFile());
    QTRY_VERIFY(a.obj->PendingWrites() > 0);
    clock.start();
    probe.start();
    QTest::qWait(300);
    probe.stop();
    qInfo("event loop at most %lld ms late while the send was stuck", worst);
    QVERIFY2(worst < 1000, "the window stalled behind the device");
    QVERIFY(w->SendingFile());
    const qint64 sent = a.obj->FComSentCount.load();
    QVERIFY(sent > 0 && sent < 256 * 1024);
    if (how == u"window"_s) {
        // Closing the window saves the port's log and frees the port object.
        const QString log = w->PortLogFileName(a.obj);
        w->close();
        QVERIFY(!w->SendingFile());
        const QString text = QString::fromUtf8(ReadFile(log));
        QVERIFY(text.endsWith(last.arg(sent) + u"\r\n"_s));
        QVERIFY(!text.contains(u"File have been sent successfully。"_s));
        return;
    }
    if (how == u"cancel"_s) w->findChild<QPushButton*>(u"Button26"_s)->click();
    else a.obj->Close();
    QVERIFY(!w->SendingFile());
    QCOMPARE(a.obj->FComSentCount.load(), sent);
    QCOMPARE(a.Lines().last(), last.arg(sent));
    QVERIFY(!a.Lines().contains(u"File have been sent successfully。"_s));
    QVERIFY(!w->FileStream());
    QVERIFY(Ui::Find<QPushButton>(*w, u"Button24"_s)->isEnabled());
    QVERIFY(!w->findChild<QPushButton*>(u"Button26"_s)->isVisible());
    // Cancelled, the port stays open and what the device took is all it gets.
    if (how == u"cancel"_s) QCOMPARE(a.pty->ReadFor(200).size(), sent);
}

// A device that takes nothing for the write time-out: the send fails with the cause and
// the count, never with the success line.
void TstFileTransfer::stalledDeviceTimesOut()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    TComTimeouts t = a.obj->Timeouts();
    t.FWriteTotalC = 200;
    t.FWriteTotalM = 0;
    a.obj->SetTimeouts(t);
    const QString path = WriteBytes(env.tmp, u"quarter.bin"_s, Pattern(256 * 1024));
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w->SendingFile(), 20000);
    const qint64 sent = a.obj->FComSentCount.load();
    const QStringList lines = a.Lines();
    QCOMPARE(lines.last(), u"File sending stopped: %1 of 262144 bytes were sent."_s.arg(sent));
    QVERIFY(lines.at(lines.size() - 2)
                .startsWith(u"Sorry Write to device fail!! (Timed out: the device took no data) "_s));
    QVERIFY(!lines.contains(u"File have been sent successfully。"_s));
    QCOMPARE(a.pty->ReadFor(200).size(), sent);
}

void TstFileTransfer::fileChangedAfterLoad_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("cut before the send") << u"cut before"_s;
    QTest::newRow("cut while it is sent") << u"cut during"_s;
    QTest::newRow("grown before the send") << u"grown"_s;
}

// The file is not what was loaded when it is read: a read that ends before the size the load
// told is a failure with both counts, never the success line; a file that grew sends what
// was loaded and no more.
void TstFileTransfer::fileChangedAfterLoad()
{
    QFETCH(QString, change);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    PtyDrain drain(a.pty->MasterFd());
    const qint64 size = 4 * 1024 * 1024;
    const QByteArray data = Pattern(int(size));
    const QString path = WriteBytes(env.tmp, u"four.bin"_s, data);
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    QVERIFY(a.Lines().contains(u"File Size: 4194304 Bytes"_s));
    const auto resize = [&](qint64 to) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(to));
    };
    if (change == u"cut before"_s) resize(100 * 1024);
    if (change == u"grown"_s) resize(5 * 1024 * 1024 + 1);
    if (change == u"cut during"_s) QTimer::singleShot(0, this, [&] { resize(100 * 1024); });
    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w->SendingFile(), 60000);
    const qint64 sent = a.obj->FComSentCount.load();
    QTRY_COMPARE_WITH_TIMEOUT(drain.Size(), sent, 20000);
    QVERIFY(drain.Data() == data.left(sent));
    const QStringList lines = a.Lines();
    if (change == u"grown"_s) {
        QCOMPARE(sent, size);
        QCOMPARE(lines.last(), u"File have been sent successfully。"_s);
        return;
    }
    QVERIFY(sent >= 100 * 1024 && sent < size);
    QCOMPARE(lines.last(),
             u"File sending stopped: the file could not be read to its end (it ended after %1 bytes, "
             u"shorter than when it was loaded). %1 of 4194304 bytes were sent."_s.arg(sent));
    QVERIFY(!lines.contains(u"File have been sent successfully。"_s));
    if (change == u"cut before"_s) QCOMPARE(sent, 100 * 1024);
}

void TstFileTransfer::statusText()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    auto* obj = new TCvComPortObj(nullptr, u"USB Serial Port (COM3)"_s);
    auto* memo = new TLogMemo(Ui::Find<QWidget>(*w, u"Panel1"_s));
    memo->show();
    obj->CvComPortObjInit2(QString(), QString(), br9600, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                           rfAscii, memo, false, false, false, false, true);
    w->Devices()->Adopt(u"USB Serial Port (COM3)"_s, obj);
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->addItem(u"USB Serial Port (COM3)"_s);
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
        ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->count() - 1);
    obj->ClearLog();
    for (int i = 0; i < 5; ++i) obj->Log(QString(22, QChar(u'a' + i)));
    obj->FComSentCount = 64;
    w->StatusBarPrintFileSize();
    QCOMPARE(
        w->StatusPanels[2]->text(),
        u"COM3 Sent: 64 Bytes/Received: 0 Bytes/Processed: 0 Bytes/Total: 120 Bytes/Lines: 5 /Packs: 0"_s);
    // With no entry selected, the panel keeps its text.
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->setCurrentIndex(-1);
    obj->FComSentCount = 65;
    w->StatusBarPrintFileSize();
    QVERIFY(w->StatusPanels[2]->text().startsWith(u"COM3 Sent: 64 "_s));
}

QTEST_MAIN(TstFileTransfer)
#include "tst_filetransfer.moc"
