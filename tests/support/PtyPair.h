#pragma once

#include <QByteArray>
#include <QString>

// A real pseudo-terminal: the program under test opens SlavePath() like any serial
// port, the test plays the device on the master side.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsValid() const { return FMaster >= 0; }
    QString SlavePath() const { return FSlavePath; }
    int MasterFd() const { return FMaster; }

    // Writes everything (waits while the pty is full, up to the time-out).
    bool Write(const QByteArray& bytes, int timeoutMs = 5000);
    // Reads until `count` bytes arrived or the time-out ran out; keeps the event loop turning.
    QByteArray Read(int count, int timeoutMs = 5000);
    // Reads whatever arrives within the time.
    QByteArray ReadFor(int ms);
    // The device vanishes: the master side is closed.
    void CloseMaster();

private:
    int FMaster = -1;
    int FSlaveKeep = -1;
    QString FSlavePath;
};
