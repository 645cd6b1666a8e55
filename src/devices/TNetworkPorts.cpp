#include "TNetworkPorts.h"

#include "IniFile.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QString kSection = QString::fromUtf16(TNetworkPorts::SectionName);
const QString kCountKey = QStringLiteral("Count");
// A hand-edited count must not make loading walk millions of keys.
constexpr int kMaxPorts = 256;

QString portKey(int n)
{
    return QStringLiteral("Port%1").arg(n);
}

} // namespace

TNetworkPorts::TNetworkPorts(const QString& settingsPath) : FSettingsPath(settingsPath) {}

bool TNetworkPorts::Load()
{
    FAddresses.clear();
    if (FSettingsPath.isEmpty() || !QFileInfo::exists(FSettingsPath)) return true;
    TIniFile ini;
    if (!ini.Load(FSettingsPath)) return false;
    const int count = std::clamp(ini.ReadInteger(kSection, kCountKey, 0), 0, kMaxPorts);
    for (int n = 1; n <= count; ++n) {
        const TNetworkAddress a = TNetworkAddress::Parse(ini.ReadString(kSection, portKey(n)).trimmed());
        if (a.IsValid() && !FAddresses.contains(a)) FAddresses += a;
    }
    return true;
}

bool TNetworkPorts::Save() const
{
    if (FSettingsPath.isEmpty()) return true;
    TIniFile ini;
    // A file that exists but cannot be read is not overwritten with our section alone.
    if (!ini.Load(FSettingsPath) && QFileInfo::exists(FSettingsPath)) return false;
    ini.WriteInteger(kSection, kCountKey, int(FAddresses.size()));
    for (int n = 1; n <= FAddresses.size(); ++n)
        ini.WriteString(kSection, portKey(n), FAddresses.at(n - 1).PortName());
    // The INI writer keeps keys it is not told about: blank the ones of a longer list.
    const QStringList keys = ini.Keys(kSection);
    for (const QString& key : keys) {
        bool isNumber = false;
        const int n = key.mid(4).toInt(&isNumber);
        if (key.startsWith(u"Port", Qt::CaseInsensitive) && isNumber && n > FAddresses.size())
            ini.WriteString(kSection, key, QString());
    }
    return ini.Save(FSettingsPath);
}

TNetworkPorts::TAddResult TNetworkPorts::Add(const TNetworkAddress& address)
{
    if (!address.IsValid() || FAddresses.size() >= kMaxPorts) return TAddResult::Invalid;
    // Two entries of one name would be one port in the list.
    for (const TNetworkAddress& a : std::as_const(FAddresses))
        if (a == address || a.FullName().compare(address.FullName(), Qt::CaseInsensitive) == 0)
            return TAddResult::AlreadyListed;
    FAddresses += address;
    return Save() ? TAddResult::Added : TAddResult::NotSaved;
}

TNetworkPorts::TRemoveResult TNetworkPorts::Remove(const TNetworkAddress& address)
{
    if (!FAddresses.removeOne(address)) return TRemoveResult::NotListed;
    return Save() ? TRemoveResult::Removed : TRemoveResult::NotSaved;
}

TNetworkAddress TNetworkPorts::ByFullName(const QString& fullName) const
{
    for (const TNetworkAddress& a : FAddresses)
        if (a.FullName().compare(fullName, Qt::CaseInsensitive) == 0) return a;
    return {};
}

QList<TSerialDeviceInfo> TNetworkPorts::Devices() const
{
    QList<TSerialDeviceInfo> devices;
    for (const TNetworkAddress& a : FAddresses) {
        TSerialDeviceInfo d;
        d.FullName = a.FullName();
        d.PortName = a.PortName();
        d.Node = a.PortName();
        d.DevicePath = a.PortName();
        d.Kind = TSerialPortKind::Network;
        devices += d;
    }
    return devices;
}
