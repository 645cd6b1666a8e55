#include "PtyPair.h"
#include "TCustomComPort.h"
#include "TPortLock.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A port that keeps what the port layer has to say for its log.
class TalkingPort : public TComPort {
public:
    QStringList said;

protected:
    void DoLinkMessage(const QString& text) override { said << text; }
};

// Another program: a copy of sleep under the name asked for, so that /proc shows that name.
// With a device it holds the device open, with the advisory lock on it.
struct Child {
    QProcess process;
    bool holds = false;
    QString name;

    Child(const QTemporaryDir& dir, const QString& program, const QString& device = QString())
    {
        const QString sleep = QStandardPaths::findExecutable(u"sleep"_s);
        const QString copy = dir.filePath(program);
        if (!QFile::exists(copy)) QFile::copy(sleep, copy);
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner);
        name = program;
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (device.isEmpty()) {
            process.start(copy, {u"60"_s});
            process.waitForStarted(10000);
            return;
        }
        holds = true;
        process.start(u"/bin/sh"_s,
                      {u"-c"_s, u"exec 3<>\"$1\" && flock -n 3 && echo ready && exec \"$2\" 60"_s, u"sh"_s,
                       device, copy});
        process.waitForReadyRead(20000);
    }
    ~Child()
    {
        process.kill();
        process.waitForFinished(10000);
    }
    qint64 Pid() const { return process.processId(); }
    // Running under its own name: between its "ready" and the exec the shell is still "sh".
    bool Ready()
    {
        if (process.state() != QProcess::Running || (holds && !process.peek(64).contains("ready")))
            return false;
        QFile comm(u"/proc/%1/comm"_s.arg(Pid()));
        return comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.left(15).toLocal8Bit();
    }
};

// The pid of a process that has ended.
qint64 DeadPid()
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(u"true"_s), {});
    if (!p.waitForStarted(10000)) return 0;
    const qint64 pid = p.processId();
    p.waitForFinished(10000);
    return pid;
}

bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Points the UUCP lock folder at a folder of the test for its lifetime.
struct LockFolder {
    QTemporaryDir dir;
    QString before = TUucpLock::Folder();
    LockFolder() { TUucpLock::SetFolder(dir.path()); }
    ~LockFolder() { TUucpLock::SetFolder(before); }
};

} // namespace

// One owner per port: the advisory lock, the UUCP lock files and who is named when a port
// is held, with real processes holding real pseudo-terminals.
class TstPortLock : public QObject {
    Q_OBJECT
private slots:
    void heldByAnotherProcess_data();
    void heldByAnotherProcess();
    void twoPortsOfOneProcess();
    void uucpLockFiles_data();
    void uucpLockFiles();
    void lockFolderNotThere();
    void modemManagerRunningIsNamed();
};

void TstPortLock::heldByAnotherProcess_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("fix"); // a part of the fix told for it, empty: none
    QTest::newRow("a program") << u"holder"_s << QString();
    QTest::newRow("ModemManager") << u"ModemManager"_s << u"ENV{ID_MM_DEVICE_IGNORE}=\"1\""_s;
    QTest::newRow("brltty") << u"brltty"_s << u"sudo apt remove brltty"_s;
}

void TstPortLock::heldByAnotherProcess()
{
    QFETCH(QString, program);
    QFETCH(QString, fix);
    LockFolder locks;
    QTemporaryDir bin;
    PtyPair pty;
    auto child = std::make_unique<Child>(bin, program, pty.SlavePath());
    QTRY_VERIFY2_WITH_TIMEOUT(child->Ready(), child->process.peek(256).constData(), 20000);

    TalkingPort port;
    port.SetPort(pty.SlavePath());
    QString hint, cause;
    QVERIFY(!port.TryOpen(&hint, &cause));
    QVERIFY2(cause.contains(u"Device or resource busy"_s), qPrintable(cause));
    const QString who = u"%1 is in use by %2 (pid %3)."_s.arg(pty.SlavePath(), program).arg(child->Pid());
    QVERIFY2(hint.startsWith(who), qPrintable(hint));
    if (fix.isEmpty()) QCOMPARE(hint, who);
    else QVERIFY2(hint.contains(fix), qPrintable(hint));
    // No lock file is left behind by the refused open.
    QVERIFY(!QFile::exists(TUucpLock::FileFor(pty.SlavePath())));

    // Once the other program has let go, the port is ours.
    child.reset();
    QVERIFY(port.TryOpen(&hint, &cause));
    QVERIFY(port.said.isEmpty());
}

void TstPortLock::twoPortsOfOneProcess()
{
    LockFolder locks;
    PtyPair pty;
    TalkingPort first, second;
    first.SetPort(pty.SlavePath());
    second.SetPort(pty.SlavePath());
    QVERIFY(first.TryOpen(nullptr));
    QString hint;
    QVERIFY(!second.TryOpen(&hint));
    QCOMPARE(hint, u"%1 is in use by this program (pid %2): it is open in another of its ports."_s
                       .arg(pty.SlavePath())
                       .arg(::getpid()));
    first.Close();
    QVERIFY(second.TryOpen(&hint));
}

void TstPortLock::uucpLockFiles_data()
{
    QTest::addColumn<QString>("content"); // "live", "live binary", "dead", "empty old", "empty young"
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("note"); // the start of what the port's log is told
    QTest::newRow("a running program's lock") << u"live"_s << false << QString();
    QTest::newRow("a running program's lock, as an int") << u"live binary"_s << false << QString();
    QTest::newRow("stale: its program ended") << u"dead"_s << true << u"Took over the stale lock file"_s;
    QTest::newRow("no pid, written long ago") << u"empty old"_s << true << u"Took over the lock file"_s;
    QTest::newRow("no pid, being written now") << u"empty young"_s << false << QString();
}

void TstPortLock::uucpLockFiles()
{
    QFETCH(QString, content);
    QFETCH(bool, opens);
    QFETCH(QString, note);
    LockFolder locks;
    QTemporaryDir bin;
    PtyPair pty;
    Child minicom(bin, u"minicom"_s);
    QTRY_VERIFY_WITH_TIMEOUT(minicom.Ready(), 20000);
    const QString file = TUucpLock::FileFor(pty.SlavePath());
    QCOMPARE(file, locks.dir.path() + u"/LCK.."_s + QFileInfo(pty.SlavePath()).fileName());
    qint64 pid = 0;
    if (content == u"live"_s) {
        pid = minicom.Pid();
        QVERIFY(WriteFile(file, QByteArray::number(pid).rightJustified(10, ' ') + '\n'));
    } else if (content == u"live binary"_s) {
        pid = minicom.Pid();
        const int binary = int(pid);
        QVERIFY(WriteFile(file, QByteArray(reinterpret_cast<const char*>(&binary), 4)));
    } else if (content == u"dead"_s) {
        pid = DeadPid();
        QVERIFY(pid > 0 && !ProcessRuns(pid));
        QVERIFY(WriteFile(file, QByteArray::number(pid).rightJustified(10, ' ') + '\n'));
    } else {
        QVERIFY(WriteFile(file, QByteArray()));
        if (content == u"empty old"_s) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(
                f.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        }
    }
    const QByteArray before = ReadFile(file);

    TalkingPort port;
    port.SetPort(pty.SlavePath());
    QString hint;
    QCOMPARE(port.TryOpen(&hint), opens);
    if (!opens) {
        if (pid > 0) QCOMPARE(hint, u"%1 is in use by minicom (pid %2)."_s.arg(pty.SlavePath()).arg(pid));
        else QCOMPARE(hint, u"The port is in use by another program."_s);
        // Somebody else's lock stays as it was.
        QCOMPARE(ReadFile(file), before);
        QVERIFY(port.said.isEmpty());
        return;
    }
    QCOMPARE(port.said.size(), 1);
    QVERIFY2(port.said.first().startsWith(note + u' ' + file), qPrintable(port.said.first()));
    if (pid > 0) QVERIFY(port.said.first().contains(QString::number(pid)));
    // The lock is ours while the port is open, in the form others read.
    QCOMPARE(ReadFile(file), QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n');
    // Another program that honours it is told who we are.
    QCOMPARE(HoldersOf(pty.SlavePath()).first().Pid, qint64(::getpid()));
    port.Close();
    QVERIFY(!QFile::exists(file));
}

void TstPortLock::lockFolderNotThere()
{
    // A folder that cannot take lock files (missing here; not writable for a normal user
    // elsewhere) is no reason to refuse the port.
    LockFolder locks;
    TUucpLock::SetFolder(locks.dir.path() + u"/missing"_s);
    PtyPair pty;
    TalkingPort port;
    port.SetPort(pty.SlavePath());
    QVERIFY(port.TryOpen(nullptr));
    QVERIFY(port.said.isEmpty());
    QCOMPARE(port.Write("x", 1), 1);
    QCOMPARE(pty.Read(1), QByteArray("x"));
}

void TstPortLock::modemManagerRunningIsNamed()
{
    // ModemManager runs as root: what it holds is not to be seen, but that it runs is.
    QTemporaryDir bin;
    const QString device = u"/dev/ttyACM7"_s;
    const QString plain = BusyText(device, {});
    Child mm(bin, u"ModemManager"_s);
    QTRY_VERIFY_WITH_TIMEOUT(mm.Ready(), 20000);
    const QString told = BusyText(device, {});
    QVERIFY2(told.startsWith(u"The port is in use by another program. ModemManager (pid %1) is running"_s.arg(
                 mm.Pid())) ||
                 plain.contains(u"ModemManager"_s), // one of the machine's own runs already
             qPrintable(told));
    QVERIFY(told.contains(u"ENV{ID_MM_DEVICE_IGNORE}=\"1\""_s));
    // Only an ACM device is one it probes.
    QCOMPARE(BusyText(u"/dev/ttyS0"_s, {}), u"The port is in use by another program."_s);
}

QTEST_MAIN(TstPortLock)
#include "tst_portlock.moc"
