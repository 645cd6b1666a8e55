#pragma once

// lrzsz as the peer of a transfer test, and what such tests share: patterned file
// contents, whole-file reads and writes, and a wait that turns the event loop at full speed.

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <unistd.h>

// Bytes that differ from one file to the next and from one block to the next.
inline QByteArray Pattern(qsizetype n, int salt = 0)
{
    QByteArray b(n, Qt::Uninitialized);
    quint32 x = 2463534242u + quint32(salt);
    for (qsizetype i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = char(x);
    }
    return b;
}

inline QString WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) return {};
    return path;
}

inline QByteArray ReadWhole(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Turns the event loop until done() holds or the time is up; false on time-out. Unlike
// QTest's waits, which nap 10 ms between turns, it takes each event as it comes: a transfer
// makes a round trip per block, and the naps would stretch every one of them.
template <class F> bool RunUntil(F done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= ms) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// An lrzsz program on the relay's far end (its standard input and output).
struct LrzszPeer {
    QProcess proc;

    LrzszPeer(int line, const QString& program, const QStringList& args, const QString& dir)
    {
        proc.setProgram(program);
        proc.setArguments(args);
        proc.setWorkingDirectory(dir);
        proc.setStandardInputFile(QProcess::nullDevice());
        proc.setStandardOutputFile(QProcess::nullDevice());
        proc.setChildProcessModifier([line] {
            ::dup2(line, STDIN_FILENO);
            ::dup2(line, STDOUT_FILENO);
        });
        proc.start();
    }
    ~LrzszPeer()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }
    bool Running() const { return proc.state() != QProcess::NotRunning; }
    // Waits with the event loop turning (the engine runs in it): the exit code, -1 after a
    // crash or a signal, -2 when it is still running.
    int Wait(int ms)
    {
        if (!RunUntil([this] { return !Running(); }, ms)) return -2;
        return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
    }
    QString Errors() { return QString::fromLocal8Bit(proc.readAllStandardError()); }
};
