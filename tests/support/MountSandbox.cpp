#include "MountSandbox.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {
bool gEntered = false;

bool WriteProcFile(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return ok;
}

QString Errno(const char* what)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}
} // namespace

namespace MountSandbox {

bool Enter(QString* why)
{
    if (gEntered) return true;
    if (::unshare(CLONE_NEWNS) != 0) {
        // Not privileged: a user namespace maps this user to root inside it.
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            if (why) *why = Errno("unshare");
            return false;
        }
        WriteProcFile("/proc/self/setgroups", "deny");
        if (!WriteProcFile("/proc/self/uid_map", QByteArray("0 ") + QByteArray::number(uid) + " 1") ||
            !WriteProcFile("/proc/self/gid_map", QByteArray("0 ") + QByteArray::number(gid) + " 1")) {
            if (why) *why = Errno("id map");
            return false;
        }
    }
    // Nothing mounted here may reach the rest of the machine.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        if (why) *why = Errno("make / private");
        return false;
    }
    gEntered = true;
    return true;
}

bool Entered()
{
    return gEntered;
}

bool MountTmpfs(const QString& dir, qint64 bytes, QString* why)
{
    QDir().mkpath(dir);
    const QByteArray options = "size=" + QByteArray::number(bytes);
    if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData()) == 0)
        return true;
    if (why) *why = Errno("mount tmpfs");
    return false;
}

bool MakeReadOnly(const QString& dir, QString* why)
{
    const QByteArray path = QFile::encodeName(dir);
    if (::mount(path.constData(), path.constData(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        if (why) *why = Errno("bind");
        return false;
    }
    if (::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        if (why) *why = Errno("remount read-only");
        return false;
    }
    return true;
}

QString FillUp(const QString& dir)
{
    const QString path = QDir(dir).filePath(QStringLiteral(".filler"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return path;
    const QByteArray block(4096, 'f');
    while (f.write(block) == block.size() && f.flush()) {}
    // Whatever room a partial block left.
    for (int i = 0; i < 4096 && f.write("f", 1) == 1 && f.flush(); ++i) {}
    return path;
}

bool Unmount(const QString& dir)
{
    return ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH) == 0;
}

} // namespace MountSandbox
