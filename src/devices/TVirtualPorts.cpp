#include "TVirtualPorts.h"

#include "CvCodecs.h"
#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>

namespace {

const QString kSection = QString::fromUtf16(TVirtualPorts::SectionName);
const QString kCountKey = QStringLiteral("Count");
// A hand-edited count must not make loading walk millions of keys.
constexpr int kMaxPorts = 256;

QString portKey(int n)
{
    return QStringLiteral("Port%1").arg(n);
}

bool hasControl(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

// Everything that can be decided from the text alone.
TVirtualPorts::TAddResult checkText(const QString& path)
{
    using R = TVirtualPorts::TAddResult;
    if (path.isEmpty() || path.size() > TVirtualPorts::MaxPathChars || hasControl(path)) return R::Invalid;
    if (!path.startsWith(u'/')) return R::NotAbsolute;
    // The port object opens what ExtractPortName reads out of the full name; a path it
    // cannot read back (parentheses, "COM" inside) would open something else or nothing.
    if (ExtractPortName(TVirtualPorts::FullNameOf(path)) != path) return R::Unnameable;
    return R::Added;
}

bool isCharDevice(const QString& path, bool* found)
{
    struct stat st {};
    // stat follows a socat link to the pty it names.
    *found = ::stat(QFile::encodeName(path).constData(), &st) == 0;
    return *found && S_ISCHR(st.st_mode);
}

} // namespace

TVirtualPorts::TVirtualPorts(const QString& settingsPath) : FSettingsPath(settingsPath) {}

QString TVirtualPorts::FullNameOf(const QString& path)
{
    return QStringLiteral("Virtual Port (") + path + u')';
}

QString TVirtualPorts::NormalizedPath(const QString& path)
{
    const QString trimmed = TrimControl(path);
    return trimmed.startsWith(u'/') ? QDir::cleanPath(trimmed) : trimmed;
}

bool TVirtualPorts::Load()
{
    FPaths.clear();
    if (FSettingsPath.isEmpty() || !QFileInfo::exists(FSettingsPath)) return true;
    TIniFile ini;
    if (!ini.Load(FSettingsPath)) return false;
    const int count = std::clamp(ini.ReadInteger(kSection, kCountKey, 0), 0, kMaxPorts);
    for (int n = 1; n <= count; ++n) {
        const QString path = NormalizedPath(ini.ReadString(kSection, portKey(n)));
        // A hand-edited or older file may hold anything: take what Add would take.
        if (checkText(path) == TAddResult::Added && !FPaths.contains(path)) FPaths += path;
    }
    return true;
}

bool TVirtualPorts::Save() const
{
    if (FSettingsPath.isEmpty()) return true;
    TIniFile ini;
    // A file that exists but cannot be read is not overwritten with our section alone.
    if (!ini.Load(FSettingsPath) && QFileInfo::exists(FSettingsPath)) return false;
    ini.WriteInteger(kSection, kCountKey, int(FPaths.size()));
    for (int n = 1; n <= FPaths.size(); ++n) ini.WriteString(kSection, portKey(n), FPaths.at(n - 1));
    // The INI writer keeps keys it is not told about: blank the ones of a longer list.
    const QStringList keys = ini.Keys(kSection);
    for (const QString& key : keys) {
        bool isNumber = false;
        const int n = key.mid(4).toInt(&isNumber);
        if (key.startsWith(u"Port", Qt::CaseInsensitive) && isNumber && n > FPaths.size())
            ini.WriteString(kSection, key, QString());
    }
    return ini.Save(FSettingsPath);
}

TVirtualPorts::TAddResult TVirtualPorts::Add(const QString& path)
{
    const QString clean = NormalizedPath(path);
    const TAddResult textCheck = checkText(clean);
    if (textCheck != TAddResult::Added) return textCheck;
    if (FPaths.contains(clean)) return TAddResult::AlreadyListed;
    bool found = false;
    if (!isCharDevice(clean, &found)) return found ? TAddResult::NotACharDevice : TAddResult::NotFound;
    if (FPaths.size() >= kMaxPorts) return TAddResult::Invalid;
    FPaths += clean;
    return Save() ? TAddResult::Added : TAddResult::NotSaved;
}

TVirtualPorts::TRemoveResult TVirtualPorts::Remove(const QString& path)
{
    if (!FPaths.removeOne(NormalizedPath(path))) return TRemoveResult::NotListed;
    return Save() ? TRemoveResult::Removed : TRemoveResult::NotSaved;
}

QList<TSerialDeviceInfo> TVirtualPorts::PresentDevices() const
{
    QList<TSerialDeviceInfo> devices;
    for (const QString& path : FPaths) {
        bool found = false;
        if (!isCharDevice(path, &found)) continue;
        TSerialDeviceInfo device;
        device.FullName = FullNameOf(path);
        device.PortName = path;
        device.Node = path;
        device.DevicePath = path;
        device.Kind = TSerialPortKind::Virtual;
        devices += device;
    }
    return devices;
}
