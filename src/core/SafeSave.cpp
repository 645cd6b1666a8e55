#include "SafeSave.h"

#include <QSaveFile>

bool SaveFileWhole(const QString& path, const QByteArray& data, QString* why)
{
    return SaveFileWhole(
        path, [&](QIODevice& out) { return out.write(data) == data.size(); }, why);
}

bool SaveFileWhole(const QString& path, const std::function<bool(QIODevice&)>& write, QString* why)
{
    QSaveFile file(path);
    // Buffered, a write that fails only when the buffer is flushed at commit() can go
    // unnoticed and leave an empty file renamed over the good one.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && write(file) && file.commit()) return true;
    if (why) *why = file.errorString();
    file.cancelWriting();
    return false;
}
