#pragma once

// One owner per serial port: who holds a port (from its UUCP lock file or from /proc), the
// UUCP lock file that minicom and other programs write and honour, and what to tell the
// user when a port is held.

#include <QList>
#include <QString>

struct TPortHolder {
    qint64 Pid = 0;
    QString Program; // /proc/<pid>/comm, or empty when it cannot be read
    bool operator==(const TPortHolder&) const = default;
};

// The program name of a running process (/proc/<pid>/comm), empty when none runs.
QString ProgramOf(qint64 pid);
// Whether a process of that pid runs (it may belong to another user).
bool ProcessRuns(qint64 pid);
// The pids of running processes with that program name. Every user's processes are seen.
QList<qint64> RunningPrograms(const QString& program);
// The processes that have devicePath open, other processes first, this one last. Only
// processes whose descriptors may be read are seen: the user's own, or all as root.
QList<TPortHolder> FindPortHolders(const QString& devicePath);

// The device a path stands for, links followed (the path itself when it cannot be resolved).
QString CanonicalDevicePath(const QString& devicePath);

// The UUCP lock of one device: "LCK.." and the device's file name in the lock folder,
// holding the owner's pid as ten characters and a line break. A lock whose process no
// longer runs is stale and taken over. A folder this user may not write means no lock
// file is kept; the advisory lock on the device still keeps other openers out.
class TUucpLock {
public:
    TUucpLock() = default;
    ~TUucpLock() { Release(); }
    TUucpLock(const TUucpLock&) = delete;
    TUucpLock& operator=(const TUucpLock&) = delete;

    // /run/lock until changed; tests point it at a folder of their own.
    static QString Folder();
    static void SetFolder(const QString& folder);
    // The lock file of a device in the lock folder.
    static QString FileFor(const QString& devicePath);

    enum class TResult { Taken, NotKept, Held };
    // Taken: the file is ours until Release. NotKept: no file could be written (the folder
    // is not writable, or missing); the port may be used all the same. Held: a running
    // process holds it (*holder). *note tells a stale lock taken over, for the port's log.
    TResult Acquire(const QString& devicePath, TPortHolder* holder, QString* note);
    void Release();
    bool Kept() const { return !FFile.isEmpty(); }
    QString File() const { return FFile; }

private:
    QString FFile;
};

// What to tell the user about a port that is held: the holders by program and pid, and
// the fix for the common cases (ModemManager probing a new modem, brltty taking an
// adapter). devicePath as the user named it.
QString BusyText(const QString& devicePath, const QList<TPortHolder>& holders);
// The fixes BusyText gives, for other places that see the same programs at work.
QString ModemManagerFixText();
QString BrlttyFixText();
// The holders BusyText names: the UUCP lock's owner, else what /proc shows.
QList<TPortHolder> HoldersOf(const QString& devicePath);
