#pragma once

// Read-only and full file systems for tests, in a mount namespace of the test process's own:
// whatever it mounts disappears with the process, even when a test crashes. Enter it in main()
// before any thread starts, since threads keep the namespace they were started in.

#include <QString>

namespace MountSandbox {

// True when the process now has a private mount namespace (as root directly, otherwise
// through a user namespace where that is allowed); *why says what failed otherwise.
bool Enter(QString* why);
bool Entered();

// A small tmpfs over dir (created when missing).
bool MountTmpfs(const QString& dir, qint64 bytes, QString* why);
// dir made read-only in place, contents kept.
bool MakeReadOnly(const QString& dir, QString* why);
// Fills the file system that holds dir until it has no room left; returns the filler's path.
QString FillUp(const QString& dir);
bool Unmount(const QString& dir);

} // namespace MountSandbox
