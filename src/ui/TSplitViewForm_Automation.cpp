// The answer rules and script pages, and the ports a script opens.
#include "TSplitViewForm.h"

#include "CvMessages.h"
#include "TCvAnswerRulesPanel.h"
#include "TCvComPortObj.h"
#include "TCvScriptPanel.h"
#include "TNetworkPortMenu.h"

using namespace Qt::Literals::StringLiterals;

void TSplitViewForm::ConnectAutomation()
{
    FAnswerRulesPanel->SetSettingsPath(
        [this](const TCvComPortObj* obj) { return FDevices->SettingsPathOf(obj->FComportFullName); });
    FScriptPanel->SetCurrentPort([this] { return GetDeciceByFullName(GetCurrentDeviceName()); });
    FScriptPanel->SetPortOpener([this](const QString& name, const TCvCommandLine& options, QString* error) {
        return OpenForScript(name, options, error);
    });
    FScriptPanel->SetMessageSink([this](const QString& line) { MainLogPrint(line); });
}

TCvComPortObj* TSplitViewForm::OpenForScript(const QString& Name, const TCvCommandLine& Options,
                                             QString* Error)
{
    // A name of the device list, a port name, or what the command line takes for a DEVICE.
    QString full;
    if (GetDeciceByFullName(Name)) {
        full = Name;
    } else if (const TCvComPortObj* byPort = GetDeciceByPort(Name)) {
        full = byPort->FComportFullName;
    } else {
        const TCvCommandLineResult device = ParseCommandLine({u"corvane"_s, Name});
        if (!device.Ok() || device.Options.Device.isEmpty()) {
            *Error = device.Ok() ? Msg(u"no such device"_s) : device.Error;
            return nullptr;
        }
        full = ListedNameOf(device.Options.Device);
        if (full.isEmpty()) {
            // Not listed yet: it joins the list as from the command line.
            const TNetworkAddress address = TNetworkAddress::Parse(device.Options.Device);
            if (address.Kind != TNetworkKind::None) {
                if (FNetworkPortMenu) FNetworkPortMenu->AddPort(address);
            } else {
                AddVirtualPort(device.Options.Device);
            }
            full = ListedNameOf(device.Options.Device);
        }
    }
    TCvComPortObj* obj = GetDeciceByFullName(full);
    if (!obj) {
        *Error = Msg(u"no such device"_s);
        return nullptr;
    }
    if (obj->Connected()) return obj;
    // Opened as from the open button, with the options on top of its own settings; the
    // selection goes back to where the user had it.
    const QString selected = GetCurrentDeviceName();
    Options.ApplyTo(*obj);
    FPortSettings->SelectDevice(full);
    ComboBoxEx1Change();
    OpenComDevice(full);
    if (!selected.isEmpty() && selected != full) {
        FPortSettings->SelectDevice(selected);
        ComboBoxEx1Change();
    }
    if (!obj->Connected()) {
        *Error = Msg(u"Can not open  %1"_s).arg(full);
        return nullptr;
    }
    return obj;
}
