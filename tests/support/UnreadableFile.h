#pragma once

// Settings files the INI reader refuses, as a damaged disk or a hand edit leaves them: a save
// must never replace them with the few keys it knows.

#include "IniFile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

namespace UnreadableFile {

inline const QStringList& Kinds()
{
    static const QStringList kinds = {QStringLiteral("over the line limit"),
                                      QStringLiteral("over the size limit"), QStringLiteral("a FIFO"),
                                      QStringLiteral("write-only")};
    return kinds;
}

// Makes one at path; the reason the reader gives for it, or empty (with *skip) when this
// kind cannot be made here (root reads a write-only file).
inline QString Make(const QString& kind, const QString& path, QString* skip)
{
    const QByteArray keys = "[]\r\nPort=ttyS9\r\nPlotXMode=time\r\nSomethingElse=kept\r\n";
    QFile f(path);
    if (kind == QLatin1String("a FIFO")) {
        if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0) return {};
        return QStringLiteral("it is not a regular file");
    }
    if (!f.open(QIODevice::WriteOnly)) return {};
    if (kind == QLatin1String("over the line limit")) {
        f.write(keys + QByteArray(TIniFile::MaxLines + 10, '\n'));
        return QStringLiteral("it has more than %1 lines").arg(TIniFile::MaxLines);
    }
    if (kind == QLatin1String("over the size limit")) {
        f.write(keys + ';' + QByteArray(TIniFile::MaxFileBytes, 'x') + "\r\n");
        return QStringLiteral("it is larger than %1 MiB").arg(TIniFile::MaxFileBytes >> 20);
    }
    f.write(keys);
    f.close();
    if (::geteuid() == 0) {
        *skip = QStringLiteral("root reads a write-only file");
        return {};
    }
    QFile::setPermissions(path, QFile::WriteOwner);
    return QStringLiteral("Permission denied");
}

// What is there now: the bytes of a file, the kind of anything else (a FIFO is not opened).
inline QByteArray State(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return "missing";
    if (S_ISFIFO(st.st_mode)) return "fifo";
    if (!S_ISREG(st.st_mode)) return "other";
    const QFile::Permissions before = QFile::permissions(path);
    QFile::setPermissions(path, before | QFile::ReadOwner);
    QFile f(path);
    const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable");
    QFile::setPermissions(path, before);
    return bytes;
}

} // namespace UnreadableFile
