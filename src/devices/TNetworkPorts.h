#pragma once

// Network ports the user added (TCP client, TCP server, RFC 2217). They are kept in the
// settings file and listed after the other ports.

#include "TNetworkAddress.h"
#include "cvPcDeviceMgt.h"

#include <QList>
#include <QString>
#include <QStringList>

class TNetworkPorts {
public:
    // [NetworkPorts] Count=<n>, Port1=<port name> ... ("tcp://host:port" and the like)
    static constexpr char16_t SectionName[] = u"NetworkPorts";

    enum class TAddResult { Added, NotSaved, AlreadyListed, Invalid };
    enum class TRemoveResult { Removed, NotSaved, NotListed };

    // An empty path keeps the list in memory only.
    explicit TNetworkPorts(const QString& settingsPath = {});

    // Reads the list; names that do not parse are left out. False when the file cannot be read.
    bool Load();
    // Writes the section, keeping every other line of the file.
    bool Save() const;

    TAddResult Add(const TNetworkAddress& address);
    TRemoveResult Remove(const TNetworkAddress& address);

    QList<TNetworkAddress> Addresses() const { return FAddresses; }
    // The port with that device-list name, Kind None when there is none.
    TNetworkAddress ByFullName(const QString& fullName) const;
    // What the device list shows: every listed port (a network port is always there to dial).
    QList<TSerialDeviceInfo> Devices() const;

private:
    QString FSettingsPath;
    QList<TNetworkAddress> FAddresses;
};
