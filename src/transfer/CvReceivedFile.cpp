#include "CvReceivedFile.h"

#include "CvMessages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

QString SafeReceivedFileName(const QString& Name, const QString& Fallback)
{
    QString s = Name;
    s.replace(u'\\', u'/');
    s = s.mid(s.lastIndexOf(u'/') + 1);
    QString out;
    out.reserve(s.size());
    for (const QChar c : std::as_const(s)) {
        const char16_t u = c.unicode();
        // C0 and C1 controls, DEL, and what a decoder made of bytes it could not read.
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F) || u == 0xFFFD) continue;
        out += c;
    }
    out = out.trimmed();
    while (out.startsWith(u'.')) out.remove(0, 1);
    if (out.isEmpty()) return Fallback;
    // Cut to what a Linux file name holds, on a character boundary.
    while (out.toUtf8().size() > 255)
        out.chop(out.size() >= 2 && out.at(out.size() - 1).isLowSurrogate() ? 2 : 1);
    return out;
}

namespace {

// "name (n).ext"; a name without a dot after its first character gets the number at the end.
QString Numbered(const QString& name, int n)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString suffix = u" (%1)"_s.arg(n);
    if (dot <= 0) return name + suffix;
    return name.left(dot) + suffix + name.mid(dot);
}

// 0, or errno: EEXIST when the target is there.
int RenameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing name as well.
    if (::link(from.constData(), to.constData()) != 0) return errno;
    ::unlink(from.constData());
    return 0;
}

} // namespace

QString RenameWithoutOverwrite(const QString& TempPath, const QString& Folder, const QString& Name,
                               QString* Error)
{
    const QString safe = SafeReceivedFileName(Name);
    const QByteArray from = QFile::encodeName(TempPath);
    for (int n = 0; n < 1000; ++n) {
        const QString candidate = n == 0 ? safe : Numbered(safe, n);
        const QString path = QDir(Folder).filePath(candidate);
        const int err = RenameNoReplace(from, QFile::encodeName(path));
        if (err == 0) return path;
        if (err != EEXIST) {
            if (Error) *Error = QString::fromLocal8Bit(std::strerror(err));
            return {};
        }
    }
    if (Error) *Error = Msg(u"no free name for %1"_s).arg(safe);
    return {};
}

TCvIncomingFile::TCvIncomingFile(const QString& Folder) : FFolder(Folder) {}

TCvIncomingFile::~TCvIncomingFile() = default;

bool TCvIncomingFile::Open(QString* Error)
{
    FFile = std::make_unique<QTemporaryFile>(QDir(FFolder).filePath(u".corvane-XXXXXX.part"_s));
    if (FFile->open()) return true;
    if (Error) *Error = FFile->errorString();
    FFile.reset();
    return false;
}

bool TCvIncomingFile::Write(const char* Data, qint64 Count, QString* Error)
{
    if (!FFile) return false;
    if (Count <= 0) return true;
    if (FFile->write(Data, Count) != Count) {
        if (Error) *Error = FFile->errorString();
        return false;
    }
    FSize += Count;
    return true;
}

QString TCvIncomingFile::Commit(const QString& Name, QString* Error)
{
    if (!FFile) return {};
    if (!FFile->flush()) {
        if (Error) *Error = FFile->errorString();
        FFile.reset();
        return {};
    }
    // A file the user owns as any other: read for all, written by the owner.
    FFile->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                          QFileDevice::ReadOther);
    const QString path = RenameWithoutOverwrite(FFile->fileName(), FFolder, Name, Error);
    if (!path.isEmpty()) FFile->setAutoRemove(false);
    FFile.reset();
    return path;
}
