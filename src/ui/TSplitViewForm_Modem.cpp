#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "TCvComPortObj.h"
#include "TCvPortSettingsPanel.h"
#include "TDeviceMonitor.h"
#include "TLogMemo.h"

using namespace Qt::Literals::StringLiterals;

// Reconnecting a port whose device came back.

// ---- reconnect ----

bool TSplitViewForm::ReconnectLater(TCvComPortObj* Obj)
{
    if (!FDevices->HoldForReconnect(Obj)) return false;
    RefreshDeviceList(QString(), DeviceArrival);
    // The monitor learns now that the device left, so that its return is an arrival even
    // when it comes back before the next rescan.
    if (TDeviceMonitor* monitor = FDevices->Monitor()) monitor->Rescan();
    return true;
}

void TSplitViewForm::ReconnectDropped(const QString& FullName)
{
    if (FDevices->Waiting().contains(FullName, Qt::CaseInsensitive)) CloseComDevice(FullName);
}

void TSplitViewForm::ReconnectWaitingPorts()
{
    const bool changed =
        FDevices->ReopenWaiting([this](const QString& name) { return FPortSettings->IsListed(name); });
    if (changed && FPortSettings->CurrentDeviceIndex() >= 0) MultiComportProcess(GetCurrentDeviceName());
}
