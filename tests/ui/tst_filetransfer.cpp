// File transfer from the main window and the counter panel, over real ptys.

#include "UiTestEnv.h"
#include "WindowDevice.h"

#include "TStringGrid.h"
#include "TUpDown.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
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
    void statusText();
};

void TstFileTransfer::sendsInChunksOf32()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    const QByteArray data = Pattern(33);
    const QString path = WriteBytes(env.tmp, u"f33.bin"_s, data);
    w->OpenDialog1 = [&] { return path; };
    w->Button23->click();
    QVERIFY(w->FileStream);
    QCOMPARE(w->FullFileNameLoaded, path);
    QStringList lines = a.Lines();
    const qsizetype at = lines.indexOf(u"File Name: "_s + path);
    QVERIFY(at >= 1);
    QCOMPARE(lines.at(at - 1), u" "_s);
    QCOMPARE(lines.mid(at + 1, 2), QStringList({u"File Size: 33 Bytes"_s,
                                                u"This file have been loaded,press the left-bottom button to start sending"_s}));

    w->Button24->click();
    QCOMPARE(a.pty->Read(33), data);
    lines = a.Lines();
    const qsizetype start = lines.indexOf(u"> Start Sending File:"_s + path);
    QVERIFY(start >= 0);
    QString first;
    for (int i = 0; i < 32; ++i) first += u"%1 "_s.arg(quint8(data[i]), 2, 16, QLatin1Char('0')).toUpper();
    QCOMPARE(lines.mid(start + 1),
             QStringList({first, u"%1 "_s.arg(quint8(data[32]), 2, 16, QLatin1Char('0')).toUpper(),
                          u"File have been sent successfully。"_s}));
    QCOMPARE(a.obj->FComSentCount.load(), 33);
    QVERIFY(!w->FileStream);
    QVERIFY(w->FullFileNameLoaded.isEmpty());
    // A second press does nothing: the file was released.
    const int count = a.Lines().size();
    w->Button24->click();
    QCOMPARE(a.Lines().size(), count);
    QCOMPARE(a.pty->ReadFor(50), QByteArray());
    QVERIFY(env.boxes.isEmpty());
}

void TstFileTransfer::emptyFile()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    const QString path = WriteBytes(env.tmp, u"empty"_s, {});
    w->OpenDialog1 = [&] { return path; };
    w->Button23->click();
    QVERIFY(a.Lines().contains(u"File Size: 0 Bytes"_s));
    w->Button24->click();
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
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    const QString path = WriteBytes(env.tmp, u"big.bin"_s, QByteArray(size, 'x'));
    w->OpenDialog1 = [&] { return path; };
    w->Button23->click();
    const QStringList lines = a.Lines();
    QVERIFY(lines.contains(u"File Size: "_s + QString::number(size) + u" Bytes"_s));
    QCOMPARE(bool(w->FileStream), loaded);
    QCOMPARE(w->FullFileNameLoaded.isEmpty(), !loaded);
    QCOMPARE(lines.contains(u"This file size is too biger,only support less then 5M size file."_s), !loaded);
}

void TstFileTransfer::refusals()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    bool asked = false;
    w->OpenDialog1 = [&] {
        asked = true;
        return QString();
    };
    // No device at all: load shows a box, send does nothing and shows nothing.
    w->ComboBoxEx1->setCurrentIndex(-1);
    env.boxes.clear();
    w->Button23Click();
    QCOMPARE(env.boxes, QStringList({w->ApplicationTitle() + u"|     No device is found,please open a device.     "_s}));
    env.boxes.clear();
    w->ComboBoxEx1->clear();
    w->Button24Click();
    QVERIFY(env.boxes.isEmpty());

    // A closed device: a log line and a box; nothing is asked.
    WindowDevice a;
    a.Attach(*w);
    a.obj->Close();
    w->Button23Click();
    QVERIFY(!asked);
    QVERIFY(a.Lines().contains(u"Device was closed,please open a device.    "_s));
    QCOMPARE(env.boxes, QStringList({w->ApplicationTitle() + u"|     Device was closed,please open a device.     "_s}));

    // A loaded file sent to a closed device stays loaded.
    env.boxes.clear();
    a.obj->Open();
    const QString path = WriteBytes(env.tmp, u"f.bin"_s, "abc");
    w->OpenDialog1 = [&] { return path; };
    w->Button23Click();
    QVERIFY(w->FileStream);
    a.obj->Close();
    w->Button24Click();
    QCOMPARE(a.Lines().last(), u"Device was closed,please open a device."_s);
    QVERIFY(w->FileStream);
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
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    PtyDrain drain(a.pty->MasterFd());
    const QByteArray data = Pattern(512 * 1024);
    const QString path = WriteBytes(env.tmp, u"half.bin"_s, data);
    w->OpenDialog1 = [&] { return path; };
    w->Button23->click();
    QVERIFY(w->FileStream);
    const QString panel = w->StatusPanels[1]->text();

    bool seen = false, anyEnabled = true;
    QString progress;
    QTimer probe;
    probe.setInterval(1);
    connect(&probe, &QTimer::timeout, this, [&] {
        if (!w->SendingFile() || seen) return;
        seen = true;
        anyEnabled = w->Button23->isEnabled() || w->Button24->isEnabled() || w->Button2->isEnabled() ||
                     w->CloseTheDevice1->isEnabled();
        progress = w->StatusPanels[1]->text();
        // Neither a second send nor a new load starts inside the running one.
        const qsizetype lines = a.Lines().size();
        w->Button24Click();
        w->Button23Click();
        QVERIFY(a.Lines().size() - lines <= 2);
    });
    probe.start();
    w->Button24->click();
    probe.stop();
    QVERIFY(seen);
    QVERIFY(!anyEnabled);
    QVERIFY(progress.startsWith(u"Sending file: "_s));
    QVERIFY(progress.endsWith(u"%)"_s));
    QTRY_COMPARE(drain.Size(), qint64(data.size()));
    QCOMPARE(drain.Data(), data);
    QVERIFY(w->Button23->isEnabled() && w->Button24->isEnabled());
    QCOMPARE(w->StatusPanels[1]->text(), panel);
    const QStringList lines = a.Lines();
    QCOMPARE(lines.filter(u"> Start Sending File:"_s).size(), 1);
    QCOMPARE(lines.last(), u"File have been sent successfully。"_s);
}

void TstFileTransfer::deviceClosedDuringSendStopsIt()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    PtyDrain drain(a.pty->MasterFd());
    const QString path = WriteBytes(env.tmp, u"half.bin"_s, Pattern(512 * 1024));
    w->OpenDialog1 = [&] { return path; };
    w->Button23->click();
    QTimer::singleShot(0, this, [&] { a.obj->Close(); });
    w->Button24->click();
    const QStringList lines = a.Lines();
    QCOMPARE(lines.last(), u"File sending stopped: the device was closed."_s);
    QVERIFY(!lines.contains(u"File have been sent successfully。"_s));
    QVERIFY(lines.filter(u"Device was closed,please open a device."_s).isEmpty());
    QVERIFY(a.obj->FComSentCount.load() < 512 * 1024);
    QVERIFY(!w->FileStream);
    QVERIFY(!w->SendingFile());
}

void TstFileTransfer::otherSendsWaitForTheFile()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    PtyDrain drain(a.pty->MasterFd());
    const QByteArray data = Pattern(256 * 1024);
    const QString path = WriteBytes(env.tmp, u"quarter.bin"_s, data);
    w->OpenDialog1 = [&] { return path; };
    w->Button23->click();
    w->StringGrid1->SetCells(1, 1, u"1"_s);
    w->StringGrid1->SetCells(2, 1, u"loop"_s);
    w->StringGrid1->SetCells(2, 2, u"row"_s);
    w->UpDown3->SetPosition(0);
    w->UpDown1->SetPosition(1);
    w->Memo2->setPlainText(u"block"_s);
    QTimer::singleShot(0, this, [&] {
        w->Button1Click();
        w->Button8Click();
        w->StringGrid1FixedCellClick(0, 2);
    });
    w->Button24->click();
    w->Button3Click();
    QTRY_VERIFY(drain.Size() >= data.size());
    // The file went out whole and in one piece; the loop texts only after it.
    QCOMPARE(drain.Data().left(data.size()), data);
    const QByteArray rest = drain.Data().mid(data.size());
    QVERIFY(!rest.contains("block"));
    QVERIFY(!rest.contains("row"));
}

void TstFileTransfer::statusText()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    auto* obj = new TCvComPortObj(nullptr, u"USB Serial Port (COM3)"_s);
    auto* memo = new TLogMemo(w->Panel1);
    memo->show();
    obj->CvComPortObjInit2(QString(), QString(), br9600, dbEight, sbOneStopBit, prNone, fcNone, sfAscii, rfAscii,
                           memo, false, false, false, false, true);
    w->CvComPortList.append({u"USB Serial Port (COM3)"_s, obj});
    w->ComboBoxEx1->addItem(u"USB Serial Port (COM3)"_s);
    w->ComboBoxEx1->setCurrentIndex(w->ComboBoxEx1->count() - 1);
    obj->ClearLog();
    for (int i = 0; i < 5; ++i) obj->Log(QString(22, QChar(u'a' + i)));
    obj->FComSentCount = 64;
    w->StatusBarPrintFileSize();
    QCOMPARE(w->StatusPanels[2]->text(),
             u"COM3 Sent: 64 Bytes/Received: 0 Bytes/Processed: 0 Bytes/Total: 120 Bytes/Lines: 5 /Packs: 0"_s);
    // With no entry selected, the panel keeps its text.
    w->ComboBoxEx1->setCurrentIndex(-1);
    obj->FComSentCount = 65;
    w->StatusBarPrintFileSize();
    QVERIFY(w->StatusPanels[2]->text().startsWith(u"COM3 Sent: 64 "_s));
}

QTEST_MAIN(TstFileTransfer)
#include "tst_filetransfer.moc"
