#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCvComPortObj.h"
#include "TDeviceMonitor.h"
#include "TLogMemo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cerrno>

using namespace Qt::Literals::StringLiterals;

// Reconnecting a port whose device came back, and the modem lines of the selected port:
// DTR and RTS set and pulsed, CTS, DSR, RI and CD shown while it is open.

namespace {

void Light(QLabel* label, bool lit, bool enabled)
{
    label->setEnabled(enabled);
    if (label->property("lit").toBool() == lit && !label->styleSheet().isEmpty()) return;
    label->setProperty("lit", lit);
    label->setStyleSheet(lit ? u"QLabel { background: #2ecc40; color: black; border-radius: 3px; padding: 1px 4px; }"_s
                             : u"QLabel { border: 1px solid palette(mid); border-radius: 3px; padding: 1px 4px; }"_s);
}

} // namespace

void TSplitViewForm::CreateModemControls()
{
    // Beside the line settings, with the same per-port meaning.
    auto* lines = qobject_cast<QGridLayout*>(GroupBox2->layout());
    CheckBoxReconnect = NewCheckBox(u"CheckBoxReconnect"_s, QString(), false);
    if (lines) lines->addWidget(CheckBoxReconnect, lines->rowCount(), 0, 1, 2);

    GroupBoxModem = Named(new QGroupBox, u"GroupBoxModem"_s);
    auto* grid = new QGridLayout(GroupBoxModem);
    CheckBoxDTR = NewCheckBox(u"CheckBoxDTR"_s, u"DTR"_s, false);
    CheckBoxRTS = NewCheckBox(u"CheckBoxRTS"_s, u"RTS"_s, false);
    ButtonPulseDTR = NewButton(u"ButtonPulseDTR"_s, QString());
    ButtonPulseRTS = NewButton(u"ButtonPulseRTS"_s, QString());
    SpinPulseMs = Named(new QSpinBox, u"SpinPulseMs"_s);
    SpinPulseMs->setRange(1, 10000);
    SpinPulseMs->setValue(100);
    SpinPulseMs->setSuffix(u" ms"_s);
    grid->addWidget(CheckBoxDTR, 0, 0);
    grid->addWidget(ButtonPulseDTR, 0, 1);
    grid->addWidget(CheckBoxRTS, 1, 0);
    grid->addWidget(ButtonPulseRTS, 1, 1);
    LabelPulseMs = NewLabel(u"LabelPulseMs"_s, QString());
    grid->addWidget(LabelPulseMs, 2, 0);
    grid->addWidget(SpinPulseMs, 2, 1);
    auto* inputs = new QHBoxLayout;
    LabelCTS = NewLabel(u"LabelCTS"_s, u"CTS"_s);
    LabelDSR = NewLabel(u"LabelDSR"_s, u"DSR"_s);
    LabelRI = NewLabel(u"LabelRI"_s, u"RI"_s);
    LabelCD = NewLabel(u"LabelCD"_s, u"CD"_s);
    for (QLabel* l : {LabelCTS, LabelDSR, LabelRI, LabelCD}) {
        l->setAlignment(Qt::AlignCenter);
        Light(l, false, false);
        inputs->addWidget(l);
    }
    grid->addLayout(inputs, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    if (auto* column = qobject_cast<QBoxLayout*>(GroupBox2->parentWidget()->layout()))
        column->insertWidget(column->indexOf(GroupBox2) + 1, GroupBoxModem);

    TimerModem = Named(new QTimer(this), u"TimerModem"_s);
    TimerModem->setInterval(ModemPollMs);
    connect(TimerModem, &QTimer::timeout, this, &TSplitViewForm::TimerModemTimer);
    connect(CheckBoxReconnect, &QCheckBox::clicked, this, &TSplitViewForm::CheckBoxReconnectClick);
    connect(CheckBoxDTR, &QCheckBox::clicked, this, &TSplitViewForm::CheckBoxDTRClick);
    connect(CheckBoxRTS, &QCheckBox::clicked, this, &TSplitViewForm::CheckBoxRTSClick);
    connect(ButtonPulseDTR, &QPushButton::clicked, this, &TSplitViewForm::ButtonPulseDTRClick);
    connect(ButtonPulseRTS, &QPushButton::clicked, this, &TSplitViewForm::ButtonPulseRTSClick);
    ApplyModemCaptions(u"CN"_s);
}

void TSplitViewForm::ApplyModemCaptions(const QString& Lang)
{
    if (!GroupBoxModem) return;
    const bool en = Lang == u"EN"_s;
    CheckBoxReconnect->setText(en ? u"Reopen when the device comes back"_s : u"设备拔出后重新插入时自动重新打开"_s);
    CheckBoxReconnect->setToolTip(en ? u"Kept for this port in its own settings file"_s
                                     : u"按端口保存在该端口的配置文件中"_s);
    GroupBoxModem->setTitle(en ? u"Modem lines"_s : u"调制解调器控制线"_s);
    ButtonPulseDTR->setText(en ? u"Pulse DTR"_s : u"DTR 脉冲"_s);
    ButtonPulseRTS->setText(en ? u"Pulse RTS"_s : u"RTS 脉冲"_s);
    LabelPulseMs->setText(en ? u"Pulse length"_s : u"脉冲宽度"_s);
    const QString tip = en ? u"Inverts the line for the pulse length, then restores it (resets a board, "
                             u"or puts it into its boot loader)"_s
                           : u"在脉冲宽度内反转该线后恢复（用于复位开发板或进入下载模式）"_s;
    ButtonPulseDTR->setToolTip(tip);
    ButtonPulseRTS->setToolTip(tip);
}

// ---- modem lines ----

void TSplitViewForm::ApplyModemLevels(TCvComPortObj* Obj)
{
    if (!Obj || !CheckBoxDTR) return;
    Obj->SetDTR(CheckBoxDTR->isChecked());
    Obj->SetRTS(CheckBoxRTS->isChecked());
}

void TSplitViewForm::NoteModemSupport(TCvComPortObj* Obj)
{
    if (!Obj || !Obj->Connected()) return;
    if (Obj->ModemSupport() == TCustomComPort::TModemSupport::Unsupported)
        Obj->Log(
            Msg(u"Device %1 has no modem lines (DTR, RTS, CTS, DSR, RI, CD are not supported); they are not shown."_s)
                .arg(Obj->FComportFullName));
}

void TSplitViewForm::CheckBoxDTRClick()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (obj && obj->Connected()) obj->SetDTR(CheckBoxDTR->isChecked());
}

void TSplitViewForm::CheckBoxRTSClick()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (obj && obj->Connected()) obj->SetRTS(CheckBoxRTS->isChecked());
}

void TSplitViewForm::ButtonPulseDTRClick()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj || !obj->Connected()) return;
    // The pulse ends on the level the box shows (they agree unless set from elsewhere).
    if (obj->DTR() != CheckBoxDTR->isChecked()) obj->SetDTR(CheckBoxDTR->isChecked());
    obj->PulseDTR(SpinPulseMs->value());
}

void TSplitViewForm::ButtonPulseRTSClick()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj || !obj->Connected()) return;
    if (obj->RTS() != CheckBoxRTS->isChecked()) obj->SetRTS(CheckBoxRTS->isChecked());
    obj->PulseRTS(SpinPulseMs->value());
}

void TSplitViewForm::ShowModemLines(TCvComPortObj* Obj)
{
    if (!CheckBoxReconnect) return;
    CheckBoxReconnect->setChecked(Obj && Obj->Reconnect());
    if (Obj && Obj->Connected()) {
        CheckBoxDTR->setChecked(Obj->DTR());
        CheckBoxRTS->setChecked(Obj->RTS());
    }
    TimerModemTimer();
    if (Obj && Obj->Connected() && Obj->ModemSupport() != TCustomComPort::TModemSupport::Unsupported)
        TimerModem->start();
}

void TSplitViewForm::TimerModemTimer()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    TModemStatus s;
    const int error = obj && obj->Connected() ? obj->GetModemStatus(s) : EBADF;
    const bool known = error == 0;
    Light(LabelCTS, s.CTS, known);
    Light(LabelDSR, s.DSR, known);
    Light(LabelRI, s.RI, known);
    Light(LabelCD, s.CD, known);
    // Nothing to poll: closed, gone, or a device without the lines. Showing an open port
    // again starts the timer.
    if (!known && (error == EBADF || obj->ModemSupport() == TCustomComPort::TModemSupport::Unsupported))
        TimerModem->stop();
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
