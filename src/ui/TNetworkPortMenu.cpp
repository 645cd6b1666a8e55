#include "TNetworkPortMenu.h"

#include "CvMessages.h"
#include "TCvComPortObj.h"
#include "TCvPortSettingsPanel.h"
#include "TNetworkPortDialog.h"
#include "TSplitViewForm.h"

#include <QAction>

using namespace Qt::Literals::StringLiterals;

TNetworkPortMenu::TNetworkPortMenu(TSplitViewForm* form)
    : QObject(form), FForm(form), FPorts(form->SettingsFileName())
{
    setObjectName(u"NetworkPortMenu"_s);
    FPorts.Load();
    FAdd = new QAction(this);
    FAdd->setObjectName(u"AddNetworkPort1"_s);
    FRemove = new QAction(this);
    FRemove->setObjectName(u"RemoveNetworkPort1"_s);
    connect(FAdd, &QAction::triggered, this, &TNetworkPortMenu::AskAdd);
    connect(FRemove, &QAction::triggered, this, [this] { RemovePort(FForm->GetCurrentDeviceName()); });
    form->FPortSettings->AddDeviceAction(FAdd);
    form->FPortSettings->AddDeviceAction(FRemove);
}

void TNetworkPortMenu::ApplyCaptions(const QString& Lang)
{
    const bool english = Lang == u"EN"_s;
    FAdd->setText(english ? u"Add Network Port (TCP, RFC 2217)..."_s : u"添加网络端口（TCP、RFC 2217）..."_s);
    FRemove->setText(english ? u"Remove Selected Network Port"_s : u"移除所选网络端口"_s);
}

void TNetworkPortMenu::AskAdd()
{
    if (FDialog) {
        FDialog->raise();
        return;
    }
    FDialog = new TNetworkPortDialog(FForm, FForm->UILanguage);
    FDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(FDialog, &QDialog::accepted, this, [this] {
        if (FDialog) AddPort(FDialog->Address());
    });
    // Window-modal, and the event loop goes on: ports keep receiving meanwhile.
    FDialog->open();
}

bool TNetworkPortMenu::AddPort(const TNetworkAddress& address)
{
    using R = TNetworkPorts::TAddResult;
    const R r = FPorts.Add(address);
    switch (r) {
    case R::Added:
    case R::NotSaved: break;
    case R::AlreadyListed:
        FForm->MainLogPrint(Msg(u"Network port %1 is listed already"_s).arg(address.FullName()));
        return false;
    case R::Invalid:
        FForm->MainLogPrint(Msg(u"Can not add network port: %1"_s)
                                .arg(address.Port == 0 ? Msg(u"the port must be between 1 and 65535"_s)
                                                       : Msg(u"the host is not a valid name or address"_s)));
        return false;
    }
    FForm->MainLogPrint(Msg(r == R::NotSaved
                                ? u"Network port %1 was added (the settings file could not be written)"_s
                                : u"Network port %1 was added"_s)
                            .arg(address.FullName()));
    FForm->RefreshDeviceList(QString(), TSplitViewForm::DeviceArrival);
    // The new port is the one selected, ready to open.
    if (FForm->FPortSettings->SelectDevice(address.FullName())) FForm->ComboBoxEx1Change();
    return true;
}

bool TNetworkPortMenu::RemovePort(const QString& fullName)
{
    const TNetworkAddress a = FPorts.ByFullName(fullName);
    if (a.Kind == TNetworkKind::None) {
        FForm->MainLogPrint(Msg(u"The selected device is not a network port."_s));
        return false;
    }
    if (TCvComPortObj* obj = FForm->GetDeciceByFullName(fullName); obj && obj->Connected())
        FForm->CloseComDevice(fullName);
    FPorts.Remove(a);
    FForm->MainLogPrint(Msg(u"Network port %1 was removed"_s).arg(a.FullName()));
    FForm->RefreshDeviceList(QString(), TSplitViewForm::DeviceArrival);
    return true;
}
