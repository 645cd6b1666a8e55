#include "TPortLock.h"

#include "CvMessages.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString& LockFolder()
{
    static QString folder = u"/run/lock"_s;
    return folder;
}

// A lock file without a pid in it may be one another program is writing right now.
constexpr qint64 kFreshLockSeconds = 5;

bool IsNumber(const char* s)
{
    if (!*s) return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9') return false;
    return true;
}

QByteArray ReadSmallFile(const QString& path, qsizetype max = 256)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    QByteArray data(max, Qt::Uninitialized);
    const ssize_t n = ::read(fd, data.data(), static_cast<size_t>(max));
    ::close(fd);
    data.truncate(n > 0 ? n : 0);
    return data;
}

// The pid a lock file names: ten characters of text as UUCP and lockdev write it, or the
// four bytes of an int as some old programs did. 0 when it names none.
qint64 LockPid(const QByteArray& data)
{
    bool ok = false;
    const qint64 pid = data.trimmed().toLongLong(&ok);
    if (ok) return pid > 0 ? pid : 0;
    if (data.size() == 4) {
        int binary = 0;
        std::memcpy(&binary, data.constData(), 4);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

QString HolderText(const TPortHolder& h)
{
    if (h.Program.isEmpty()) return Msg(u"process %1"_s).arg(h.Pid);
    return u"%1 (pid %2)"_s.arg(h.Program).arg(h.Pid);
}

} // namespace

QString ModemManagerFixText()
{
    return Msg(
        u"ModemManager probes new modems and serial devices; to make it leave this one alone, add a udev "
        u"rule that sets ENV{ID_MM_DEVICE_IGNORE}=\"1\" for it, e.g. the line ATTRS{idVendor}==\"vvvv\", "
        u"ATTRS{idProduct}==\"pppp\", ENV{ID_MM_DEVICE_IGNORE}=\"1\" in "
        u"/etc/udev/rules.d/99-corvane.rules with the ids corvane --list shows, then run sudo udevadm "
        u"control --reload and plug the device in again."_s);
}

QString BrlttyFixText()
{
    return Msg(u"brltty takes some USB serial adapters (CH340 and CH341 among them) for braille displays; "
               u"without a braille display, remove it: sudo apt remove brltty."_s);
}

QString ProgramOf(qint64 pid)
{
    if (pid <= 0 || pid > INT_MAX) return {};
    return QString::fromLocal8Bit(ReadSmallFile(u"/proc/%1/comm"_s.arg(pid))).trimmed();
}

bool ProcessRuns(qint64 pid)
{
    if (pid <= 0 || pid > INT_MAX) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

QList<qint64> RunningPrograms(const QString& program)
{
    QList<qint64> pids;
    DIR* proc = ::opendir("/proc");
    if (!proc) return pids;
    while (const dirent* e = ::readdir(proc)) {
        if (!IsNumber(e->d_name)) continue;
        const qint64 pid = std::atoll(e->d_name);
        if (ProgramOf(pid) == program) pids << pid;
    }
    ::closedir(proc);
    return pids;
}

QString CanonicalDevicePath(const QString& devicePath)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(devicePath).constData(), resolved)) return devicePath;
    return QFile::decodeName(resolved);
}

QList<TPortHolder> FindPortHolders(const QString& devicePath)
{
    const QByteArray target = QFile::encodeName(CanonicalDevicePath(devicePath));
    const qint64 self = ::getpid();
    QList<TPortHolder> others;
    bool selfHolds = false;
    DIR* proc = ::opendir("/proc");
    if (!proc) return others;
    while (const dirent* e = ::readdir(proc)) {
        if (!IsNumber(e->d_name)) continue;
        const QByteArray fdDir = QByteArray("/proc/") + e->d_name + "/fd";
        // Another user's process: its descriptors are not ours to read.
        DIR* fds = ::opendir(fdDir.constData());
        if (!fds) continue;
        bool holds = false;
        char link[PATH_MAX];
        while (const dirent* f = ::readdir(fds)) {
            if (!IsNumber(f->d_name)) continue;
            const QByteArray path = fdDir + '/' + f->d_name;
            const ssize_t n = ::readlink(path.constData(), link, sizeof link - 1);
            if (n > 0 && QByteArrayView(link, n) == target) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (!holds) continue;
        const qint64 pid = std::atoll(e->d_name);
        if (pid == self) selfHolds = true;
        else others << TPortHolder{pid, ProgramOf(pid)};
    }
    ::closedir(proc);
    if (selfHolds) others << TPortHolder{self, ProgramOf(self)};
    return others;
}

// ---- UUCP lock files ----

QString TUucpLock::Folder()
{
    return LockFolder();
}

void TUucpLock::SetFolder(const QString& folder)
{
    LockFolder() = folder;
}

QString TUucpLock::FileFor(const QString& devicePath)
{
    return Folder() + u"/LCK.."_s + QFileInfo(CanonicalDevicePath(devicePath)).fileName();
}

TUucpLock::TResult TUucpLock::Acquire(const QString& devicePath, TPortHolder* holder, QString* note)
{
    Release();
    const QString file = FileFor(devicePath);
    const QByteArray name = QFile::encodeName(file);
    const qint64 self = ::getpid();
    // Twice at most: once more after a stale lock was removed.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            const QByteArray text = QByteArray::number(self).rightJustified(10, ' ') + '\n';
            const bool written =
                ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
            ::close(fd);
            if (!written) {
                ::unlink(name.constData());
                return TResult::NotKept;
            }
            FFile = file;
            return TResult::Taken;
        }
        if (errno != EEXIST) return TResult::NotKept;
        const qint64 pid = LockPid(ReadSmallFile(file));
        if (pid == self || ProcessRuns(pid)) {
            if (holder) *holder = TPortHolder{pid, ProgramOf(pid)};
            return TResult::Held;
        }
        if (pid == 0) {
            // Being written this very moment, perhaps: a young file is taken at its word.
            struct stat st {};
            if (::stat(name.constData(), &st) == 0 && ::time(nullptr) - st.st_mtime < kFreshLockSeconds) {
                if (holder) *holder = TPortHolder{};
                return TResult::Held;
            }
        }
        // Its owner is gone. A file we may not remove (another user's, in a sticky folder)
        // leaves us without a lock file of our own; the port is still ours to open.
        if (::unlink(name.constData()) != 0) return TResult::NotKept;
        if (note)
            *note = pid > 0 ? Msg(u"Took over the stale lock file %1 of process %2, which no longer runs."_s)
                                  .arg(file)
                                  .arg(pid)
                            : Msg(u"Took over the lock file %1, which names no process."_s).arg(file);
    }
    return TResult::NotKept;
}

void TUucpLock::Release()
{
    if (FFile.isEmpty()) return;
    // Only a file that is still ours: never one another program wrote since.
    if (LockPid(ReadSmallFile(FFile)) == ::getpid()) ::unlink(QFile::encodeName(FFile).constData());
    FFile.clear();
}

// ---- what to tell ----

QList<TPortHolder> HoldersOf(const QString& devicePath)
{
    QList<TPortHolder> holders;
    const qint64 locked = LockPid(ReadSmallFile(TUucpLock::FileFor(devicePath)));
    if (locked > 0 && ProcessRuns(locked)) holders << TPortHolder{locked, ProgramOf(locked)};
    for (const TPortHolder& h : FindPortHolders(devicePath))
        if (locked != h.Pid) holders << h;
    // Other processes before this one.
    std::stable_partition(holders.begin(), holders.end(),
                          [](const TPortHolder& h) { return h.Pid != ::getpid(); });
    return holders;
}

QString BusyText(const QString& devicePath, const QList<TPortHolder>& holders)
{
    const qint64 self = ::getpid();
    QStringList others;
    bool modemManager = false;
    bool brltty = false;
    for (const TPortHolder& h : holders) {
        if (h.Pid == self) continue;
        others << HolderText(h);
        modemManager = modemManager || h.Program == u"ModemManager"_s;
        brltty = brltty || h.Program == u"brltty"_s;
    }
    QString text;
    if (!others.isEmpty()) {
        text = Msg(u"%1 is in use by %2."_s).arg(devicePath, others.join(u", "_s));
    } else if (!holders.isEmpty()) {
        text = Msg(u"%1 is in use by this program (pid %2): it is open in another of its ports."_s)
                   .arg(devicePath)
                   .arg(self);
    } else {
        text = Msg(u"The port is in use by another program."_s);
        // ModemManager runs as root, so /proc does not show what it holds; it probes new
        // ACM devices above all.
        if (QFileInfo(devicePath).fileName().startsWith(u"ttyACM"_s)) {
            const QList<qint64> mm = RunningPrograms(u"ModemManager"_s);
            if (!mm.isEmpty()) {
                text +=
                    u' ' + Msg(u"ModemManager (pid %1) is running and may be probing it."_s).arg(mm.first());
                modemManager = true;
            }
        }
    }
    if (modemManager) text += u' ' + ModemManagerFixText();
    if (brltty) text += u' ' + BrlttyFixText();
    return text;
}
