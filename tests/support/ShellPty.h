#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <memory>
#include <sys/types.h>

class QSocketNotifier;

// A program (a shell) on a new pseudo-terminal that is its controlling terminal, so the
// line discipline works as on a real console: Ctrl+C interrupts the foreground job, job
// control and window sizes work. The test plays the terminal on the master side.
class ShellPty : public QObject {
    Q_OBJECT
public:
    ShellPty();
    ~ShellPty() override;

    // Starts argv in dir with env ("NAME=value") over the inherited environment.
    bool Start(const QStringList& argv, const QString& dir, const QStringList& env, int rows = 24,
               int cols = 80);
    pid_t Pid() const { return FPid; }
    // The terminal side, for a reader of its own (with SetReading(false)).
    int MasterFd() const { return FMaster; }
    // Writes all of it (keys are few; waits while the terminal's input is full).
    bool Write(const QByteArray& bytes);
    void SetSize(int rows, int cols);
    // Reading stops while the reader has enough (flow control through the pty's buffer).
    void SetReading(bool on);
    // Ends the program and its jobs: hang-up, then kill.
    void Stop();

signals:
    void Received(const QByteArray& bytes);
    void Finished();

private:
    void ReadSome();

    int FMaster = -1;
    pid_t FPid = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
