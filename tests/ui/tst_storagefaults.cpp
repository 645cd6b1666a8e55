// The configuration folder, Setting/ or Logs/ read-only or full while the window runs: every
// failed write is told once, receiving goes on, and the files saved before stay as they were.
#include "CvCodecs.h"
#include "MountSandbox.h"
#include "PtyPair.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "TLogModel.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDirIterator>
#include <QMap>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include "TStringGrid.h"
#include "TUpDown.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString gSandboxProblem;

QStringList Lines(const TLogView* memo)
{
    QStringList out;
    for (qint64 i = 0; i < memo->Model().LineCount(); ++i) out << memo->Model().Line(i);
    return out;
}

// Every file below dir with its contents.
QMap<QString, QByteArray> Snapshot(const QString& dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(dir).relativeFilePath(path), ReadFile(path));
    }
    return files;
}

// Unmounts what a test mounted, before its temporary folder goes.
struct Mounts {
    QStringList dirs;
    ~Mounts()
    {
        for (auto it = dirs.crbegin(); it != dirs.crend(); ++it) MountSandbox::Unmount(*it);
    }
};

// A log file is named after the second the window started: the next window must not share it.
void NextSecond()
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentSecsSinceEpoch() > now, 3000);
}

// The receive format chosen in the panel, applied to an open port as the user's next open would.
void ApplyReceiveFormat(TSplitViewForm& w, TCvComPortObj* obj)
{
    const TCvComPortObjPara p = obj->GetConfiguration();
    obj->CvComPortObjInit2(p.ComportFullName, p.Port, p.BaudRate, p.DataBits, p.StopBits, p.ParityBits,
                           p.FlowControl, p.SendFormat,
                           Ui::Find<QComboBox>(w, u"ComboBox7"_s)->currentIndex(), p.LogView, p.ShowDate,
                           p.ShowTime, p.ShowLineNumber, p.ShowSendedLog, p.HexModeWithString);
}

TCvComPortObj* OpenPort(TSplitViewForm& w, const QString& name)
{
    Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)
        ->setCurrentIndex(Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s)->findText(name));
    w.ComboBoxEx1Change();
    Ui::Find<QPushButton>(w, u"Button2"_s)->click();
    TCvComPortObj* obj = w.GetDeciceByFullName(name);
    return obj && obj->Connected() ? obj : nullptr;
}

void Receive(PtyPair& pty, TCvComPortObj* obj, const QByteArray& bytes)
{
    const qint64 before = obj->FComReceiveCount.load();
    QVERIFY(pty.Write(bytes));
    QTRY_COMPARE(obj->FComReceiveCount.load(), before + bytes.size());
    obj->FlushUiQueue();
}

} // namespace

#define REQUIRE_SANDBOX()                                                                                    \
    do {                                                                                                     \
        if (!MountSandbox::Entered())                                                                        \
            QSKIP(qPrintable(u"No mount namespace for read-only and full file systems here: "_s +            \
                             gSandboxProblem));                                                              \
    } while (false)

class TstStorageFaults : public QObject {
    Q_OBJECT
private slots:
    void faultyFolder_data();
    void faultyFolder();
    void startWithoutFolders();
    void corruptFiles_data();
    void corruptFiles();
};

void TstStorageFaults::faultyFolder_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("full");
    for (const QString& where : {u"root"_s, u"Setting"_s, u"Logs"_s}) {
        QTest::addRow("%s read-only", qPrintable(where)) << where << false;
        QTest::addRow("%s full", qPrintable(where)) << where << true;
    }
}

void TstStorageFaults::faultyFolder()
{
    QFETCH(QString, where);
    QFETCH(bool, full);
    REQUIRE_SANDBOX();
    UiTestEnv env;
    PtyPair pty;
    const QString logsDir = env.CfgDir() + u"Logs/"_s;
    const QString target = where == u"root"_s ? env.CfgDir() : env.CfgDir() + where + u'/';
    const bool settingsHit = where != u"Logs"_s, logsHit = where != u"Setting"_s;
    Mounts mounts;
    QDir().mkpath(target);
    if (full) {
        QString why;
        QVERIFY2(MountSandbox::MountTmpfs(target, 1 << 20, &why), qPrintable(why));
        mounts.dirs << target;
    }
    const QString name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());

    // A good session first: settings, a virtual port and a log on disk.
    {
        auto w = UiTestEnv::Start("en_US");
        w->show();
        Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
        Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 1, u"kept"_s);
        QVERIFY(w->AddVirtualPort(pty.SlavePath()));
        TCvComPortObj* obj = OpenPort(*w, name);
        QVERIFY(obj);
        Receive(pty, obj, "first\r\n");
        w->close();
    }
    QCOMPARE(env.boxes, QStringList());
    const QByteArray ini = ReadFile(env.SettingDir() + u"Corvane.ini"_s);
    QVERIFY(ini.contains("1_2=kept"));
    const QMap<QString, QByteArray> logs = Snapshot(logsDir);
    QCOMPARE(logs.size(), 1);
    QVERIFY(logs.first().contains("first"));

    if (full) {
        MountSandbox::FillUp(target);
    } else {
        QString why;
        QVERIFY2(MountSandbox::MakeReadOnly(target, &why), qPrintable(why));
        mounts.dirs << target;
    }
    NextSecond();

    auto w = UiTestEnv::Start("en_US");
    w->show();
    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Cells(2, 1), u"kept"_s);
    TCvComPortObj* obj = OpenPort(*w, name);
    QVERIFY(obj);
    Receive(pty, obj, "second\r\n");

    // Capture into the same folder, then back to the view.
    const QString capture = target + u"cap.txt"_s;
    w->SaveDialog1 = [&] { return capture; };
    Ui::Find<QPushButton>(*w, u"Button13"_s)->click();
    ApplyReceiveFormat(*w, obj);
    Receive(pty, obj, "captured\r\n");
    Receive(pty, obj, "captured again\r\n");
    Ui::Find<QPushButton>(*w, u"Button14"_s)->click();
    ApplyReceiveFormat(*w, obj);
    Receive(pty, obj, "third\r\n");
    // The auto-save keeps failing without saying so again.
    w->Timer2Timer();
    w->Timer2Timer();

    const QStringList lines = Lines(obj->LogView());
    // Received text goes on the last line, whatever message stands there.
    QCOMPARE(lines.filter(QRegularExpression(u"second$"_s)).size(), 1);
    QCOMPARE(lines.filter(QRegularExpression(u"third$"_s)).size(), 1);
    QCOMPARE(lines.filter(u"Can not save log file"_s).size(), logsHit ? 1 : 0);
    QCOMPARE(lines.filter(u"Can not write file "_s + capture).size(), 1);
    QVERIFY(obj->Connected());
    QVERIFY(env.boxes.isEmpty());

    w->close();
    QCOMPARE(env.boxes.size(), 1);
    QCOMPARE(env.boxes.first().contains(u"Corvane.ini"_s), settingsHit);
    QCOMPARE(env.boxes.first().contains(u".log"_s), logsHit);
    w.reset();

    // What was saved before is intact, and no half-written file was left behind.
    if (settingsHit) QCOMPARE(ReadFile(env.SettingDir() + u"Corvane.ini"_s), ini);
    if (logsHit) {
        QMap<QString, QByteArray> now = Snapshot(logsDir);
        now.remove(u".filler"_s);
        now.remove(u"cap.txt"_s);
        QCOMPARE(now, logs);
    }
    QStringList names = QDir(target).entryList(QDir::Files | QDir::Hidden);
    names.removeAll(u".filler"_s);
    for (const QString& n : std::as_const(names))
        QVERIFY2(!n.contains(u".tmp"_s) && n.size() < 64, qPrintable(n));
}

void TstStorageFaults::startWithoutFolders()
{
    // A configuration folder that is read-only and empty: no Setting/ or Logs/ can be made.
    REQUIRE_SANDBOX();
    UiTestEnv env;
    Mounts mounts;
    QDir().mkpath(env.CfgDir());
    QString why;
    QVERIFY2(MountSandbox::MakeReadOnly(env.CfgDir(), &why), qPrintable(why));
    mounts.dirs << env.CfgDir();

    auto w = UiTestEnv::Start("en_US");
    w->show();
    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
    const QStringList main = Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s));
    QCOMPARE(main.filter(u"Can not create folder "_s + env.CfgDir() + u"Setting"_s).size(), 1);
    QCOMPARE(main.filter(u"Can not create folder "_s + env.CfgDir() + u"Logs"_s).size(), 1);
    // The window works with its defaults.
    Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 1, u"x"_s);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Cells(2, 1), u"x"_s);
    w->close();
    QCOMPARE(env.boxes.size(), 1);
    QVERIFY(env.boxes.first().contains(u"Corvane.ini"_s));
    w.reset();
    QCOMPARE(QDir(env.CfgDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

void TstStorageFaults::corruptFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QByteArray junk(64 * 1024, Qt::Uninitialized);
    for (int i = 0; i < junk.size(); ++i) junk[i] = char((i * 131 + 7) % 256);
    const QByteArray oneLine = "[MyPreference]\r\nLOOPCOUNT=" + QByteArray(100 * 1024 * 1024, '9');
    const QByteArray duplicates = "[MyPreference]\r\nLOOPCOUNT=abc\r\n[MyPreference]\r\nLOOPCOUNT=7\r\n"
                                  "[LANGUAGE]\r\n[LANGUAGE]\r\nMESSAGE_22\r\n[]\r\n=\r\n";
    const QByteArray noEquals =
        "[MyPreference]\r\nLOOPCOUNT\r\nTheme\r\nBaudRate\r\n[LANGUAGE]\r\nMESSAGE_22\r\n";
    for (const QString& file : {u"Corvane.ini"_s, u"Lang_EN.ini"_s, u"port"_s}) {
        QTest::addRow("%s: binary junk", qPrintable(file)) << file << junk;
        QTest::addRow("%s: 100 MB on one line", qPrintable(file)) << file << oneLine;
        QTest::addRow("%s: duplicate sections", qPrintable(file)) << file << duplicates;
        QTest::addRow("%s: keys without =", qPrintable(file)) << file << noEquals;
    }
}

void TstStorageFaults::corruptFiles()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    UiTestEnv env;
    PtyPair pty;
    const QString name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());
    {
        auto w = UiTestEnv::Start("en_US");
        Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
        QVERIFY(w->AddVirtualPort(pty.SlavePath()));
        QVERIFY(OpenPort(*w, name));
        Ui::Find<QPushButton>(*w, u"Button2"_s)->click(); // closing stores the port's settings file
        w->close();
    }
    const QString path = env.SettingDir() + (file == u"port"_s ? SafeFileNamePart(name) + u".ini"_s : file);
    QVERIFY(QFileInfo::exists(path));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(content), content.size());
    }

    auto w = UiTestEnv::Start("en_US");
    w->show();
    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
    QVERIFY(env.boxes.isEmpty());
    // What could not be read keeps its default; the window works.
    QCOMPARE(Ui::Find<QPushButton>(*w, u"Button3"_s)->text(), u"StopSend"_s);
    if (file == u"Corvane.ini"_s) QVERIFY(Ui::Find<TUpDown>(*w, u"UpDown3"_s)->Position() != 7);
    TCvComPortObj* obj = OpenPort(*w, name);
    if (file != u"Corvane.ini"_s) {
        QVERIFY(obj);
        if (file == u"port"_s) QCOMPARE(obj->BaudRate(), int(br9600));
        Receive(pty, obj, "still working\r\n");
        QCOMPARE(Lines(obj->LogView()).filter(u"still working"_s).size(), 1);
    }
    w->close();
}

int main(int argc, char** argv)
{
    // Before QApplication starts any thread: threads keep the mount namespace they began in.
    MountSandbox::Enter(&gSandboxProblem);
    QApplication app(argc, argv);
    TstStorageFaults t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_storagefaults.moc"
