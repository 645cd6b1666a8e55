#pragma once

// The device list's network-port menu: adds ports through TNetworkPortDialog, removes the
// selected one, and keeps the list in the settings file.

#include "TNetworkPorts.h"

#include <QObject>
#include <QPointer>

class QAction;
class TNetworkPortDialog;
class TSplitViewForm;

class TNetworkPortMenu : public QObject {
    Q_OBJECT
public:
    // Puts its actions on the device list's menu; the window is its parent.
    explicit TNetworkPortMenu(TSplitViewForm* form);

    // The listed network ports for the device list.
    QList<TSerialDeviceInfo> Devices() const { return FPorts.Devices(); }
    void ApplyCaptions(const QString& Lang);

    // Adds the port, says so in the main log and lists it; false when it was not added.
    bool AddPort(const TNetworkAddress& address);
    // Removes the port of that device-list name (closing it first); false when it is none.
    bool RemovePort(const QString& fullName);
    // Opens the dialog without waiting for it; its OK adds the port.
    void AskAdd();

private:
    TSplitViewForm* FForm;
    TNetworkPorts FPorts;
    QAction* FAdd;
    QAction* FRemove;
    QPointer<TNetworkPortDialog> FDialog;
};
