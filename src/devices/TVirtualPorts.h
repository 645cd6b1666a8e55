#pragma once

// Ports without a sysfs device that the user adds by path (a socat link, /dev/pts/N,
// a tty0tty device). They are kept in the settings file and listed after the hardware
// ports while their path exists.

#include "cvPcDeviceMgt.h"

#include <QList>
#include <QString>
#include <QStringList>

class TVirtualPorts {
public:
    // [VirtualPorts] Count=<n>, Port1=<path> ... Port<n>=<path>
    static constexpr char16_t SectionName[] = u"VirtualPorts";
    // Room for a path and the INI reader's 2,047-character value cap.
    static constexpr qsizetype MaxPathChars = 1024;

    enum class TAddResult {
        Added,
        NotSaved, // listed for this run, but the settings file could not be written
        AlreadyListed,
        NotAbsolute,
        Invalid, // empty, control characters, longer than MaxPathChars, or the list is full
        NotFound,
        NotACharDevice, // a regular file or a folder is no port
        Unnameable,     // its port name would not read back from "Virtual Port (<path>)"
    };
    enum class TRemoveResult { Removed, NotSaved, NotListed };

    // An empty path keeps the list in memory only.
    explicit TVirtualPorts(const QString& settingsPath = {});

    // Reads the list; paths need not exist now. False when the file cannot be read
    // (the list is then empty).
    bool Load();
    // Writes the section, keeping every other line of the file.
    bool Save() const;

    // The path is trimmed and cleaned ("//", "/./", "..") before it is checked.
    TAddResult Add(const QString& path);
    TRemoveResult Remove(const QString& path);

    QStringList Paths() const { return FPaths; }
    QString SettingsPath() const { return FSettingsPath; }
    // The listed ports whose path exists now and is a character device.
    QList<TSerialDeviceInfo> PresentDevices() const;

    // "Virtual Port (<path>)"
    static QString FullNameOf(const QString& path);
    static QString NormalizedPath(const QString& path);

private:
    QString FSettingsPath;
    QStringList FPaths;
};
