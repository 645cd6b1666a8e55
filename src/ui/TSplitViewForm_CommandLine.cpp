#include "TSplitViewForm.h"

#include "CvMessages.h"
#include "TCvComPortObj.h"
#include "TCvInstance.h"
#include "TNetworkPortMenu.h"
#include "TNotebook.h"
#include "TPortLock.h"
#include "TTabSet.h"
#include "TVirtualPorts.h"

using namespace Qt::Literals::StringLiterals;

// A device asked for on the command line, by this start or by a later one.

QString TSplitViewForm::ListedNameOf(const QString& Device) const
{
    const TNetworkAddress address = TNetworkAddress::Parse(Device);
    const QString canonical = CanonicalDevicePath(Device);
    for (const TSerialDeviceInfo& d : FDevices->PresentDevices()) {
        if (address.Kind != TNetworkKind::None) {
            if (TNetworkAddress::Parse(d.DevicePath) == address) return d.FullName;
            continue;
        }
        // Whichever name it was given by: its node, a link to it, a by-id or by-path link.
        if (d.Kind == TSerialPortKind::Network) continue;
        if (Device == d.DevicePath || Device == d.ByIdLink || Device == d.ByPathLink ||
            canonical == CanonicalDevicePath(d.DevicePath))
            return d.FullName;
    }
    return {};
}

bool TSplitViewForm::OpenFromCommandLine(const TCvCommandLine& Options, bool FromAnotherStart)
{
    const QString device = Options.Device;
    if (device.isEmpty()) return false;
    if (FromAnotherStart) MainLogPrint(Msg(u"Another start of Corvane asks to open %1."_s).arg(device));
    QString name = ListedNameOf(device);
    if (name.isEmpty()) {
        // Not listed yet: it joins the list as the user would add it, and stays there.
        const TNetworkAddress address = TNetworkAddress::Parse(device);
        if (address.Kind != TNetworkKind::None) {
            if (FNetworkPortMenu) FNetworkPortMenu->AddPort(address);
        } else {
            AddVirtualPort(device);
        }
        name = ListedNameOf(device);
    }
    TCvComPortObj* obj = GetDeciceByFullName(name);
    if (!obj) {
        MainLogPrint(
            Msg(u"Can not open %1 from the command line: %2"_s).arg(device, Msg(u"no such device"_s)));
        return false;
    }
    FPortSettings->SelectDevice(name);
    ComboBoxEx1Change();
    if (obj->Connected()) {
        MainLogPrint(Msg(u"Device %1 is open already."_s).arg(name));
        return true;
    }
    // What was given on top of the port's own saved settings; the panel shows the result
    // and the port opens with what it shows, as from the open button.
    Options.ApplyTo(*obj);
    MultiComportProcess(name);
    if (Options.ReceiveFormat) FPortSettings->SetReceiveFormat(*Options.ReceiveFormat);
    MainLogPrint(Msg(u"Opening %1 as the command line asks."_s).arg(name));
    OpenComDevice(name);
    MultiComportProcess(GetCurrentDeviceName());
    return obj->Connected();
}

void TSplitViewForm::TakeRequestsFrom(TCvInstanceServer* Server)
{
    connect(Server, &TCvInstanceServer::Requested, this, [this](const TCvCommandLine& options) {
        OpenFromCommandLine(options, true);
        // The user looks for it where they started it from: the window comes forward.
        if (isMinimized()) showNormal();
        raise();
        activateWindow();
    });
}
