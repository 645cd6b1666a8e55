#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCvComPortObj.h"
#include "TCvModemPanel.h"
#include "TDeviceMonitor.h"
#include "TLogMemo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

// Reconnecting a port whose device came back, and the modem lines of the selected port:
// DTR and RTS set and pulsed, CTS, DSR, RI and CD shown while it is open.

void TSplitViewForm::CreateModemControls()
{
    // Beside the line settings, with the same per-port meaning.
    auto* lines = qobject_cast<QGridLayout*>(GroupBox2->layout());
    CheckBoxReconnect = NewCheckBox(u"CheckBoxReconnect"_s, QString(), false);
    if (lines) lines->addWidget(CheckBoxReconnect, lines->rowCount(), 0, 1, 2);

    FModemPanel = new TCvModemPanel;
    FModemPanel->SetCurrentPort([this] { return GetDeciceByFullName(GetCurrentDeviceName()); });
    if (auto* column = qobject_cast<QBoxLayout*>(GroupBox2->parentWidget()->layout()))
        column->insertWidget(column->indexOf(GroupBox2) + 1, FModemPanel);
    connect(CheckBoxReconnect, &QCheckBox::clicked, this, &TSplitViewForm::CheckBoxReconnectClick);
    ApplyModemCaptions(u"CN"_s);
}

void TSplitViewForm::ApplyModemCaptions(const QString& Lang)
{
    if (!FModemPanel) return;
    const bool en = Lang == u"EN"_s;
    CheckBoxReconnect->setText(en ? u"Reopen when the device comes back"_s : u"设备拔出后重新插入时自动重新打开"_s);
    CheckBoxReconnect->setToolTip(en ? u"Kept for this port in its own settings file"_s
                                     : u"按端口保存在该端口的配置文件中"_s);
    FModemPanel->ApplyCaptions(Lang);
}

void TSplitViewForm::ShowModemLines(TCvComPortObj* Obj)
{
    if (!CheckBoxReconnect) return;
    CheckBoxReconnect->setChecked(Obj && Obj->Reconnect());
    FModemPanel->ShowLines(Obj);
}

// ---- reconnect ----

void TSplitViewForm::CheckBoxReconnectClick()
{
    const QString name = GetCurrentDeviceName();
    TCvComPortObj* obj = GetDeciceByFullName(name);
    if (!obj) {
        // A HID device, or none: nothing to keep the option for.
        CheckBoxReconnect->setChecked(false);
        return;
    }
    obj->SetReconnect(CheckBoxReconnect->isChecked());
    obj->StoreSettings(stIniFile, FDevices->SettingsPathOf(obj->FComportFullName));
    if (!obj->Reconnect() && FDevices->Waiting().contains(obj->FComportFullName, Qt::CaseInsensitive))
        CloseComDevice(obj->FComportFullName);
}

bool TSplitViewForm::ReconnectLater(TCvComPortObj* Obj)
{
    if (!FDevices->HoldForReconnect(Obj)) return false;
    RefreshDeviceList(QString(), DeviceArrival);
    // The monitor learns now that the device left, so that its return is an arrival even
    // when it comes back before the next rescan.
    if (TDeviceMonitor* monitor = FDevices->Monitor()) monitor->Rescan();
    return true;
}

void TSplitViewForm::ReconnectWaitingPorts()
{
    const bool changed = FDevices->ReopenWaiting(
        [this](const QString& name) { return ComboBoxEx1->findText(name, Qt::MatchFixedString) >= 0; });
    if (changed && ComboBoxEx1->currentIndex() >= 0) MultiComportProcess(GetCurrentDeviceName());
}
