#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;

// Writes data as the whole new content of path: into a temporary file beside it that is
// renamed over the old one, so a failure leaves the old file as it was. The writes are not
// buffered by Qt: an error of the last write (a full disk) cannot be lost on the way to the
// rename. On failure *why holds the system's reason.
bool SaveFileWhole(const QString& path, const QByteArray& data, QString* why = nullptr);
// The same for content too large to hold at once: write() puts it into the file and returns
// false when a write failed.
bool SaveFileWhole(const QString& path, const std::function<bool(QIODevice&)>& write, QString* why = nullptr);
