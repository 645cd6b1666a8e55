#include "TCvModemPanel.h"

#include "CvSettings.h"

#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCvComPortObj.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace {

void Light(QLabel* label, bool lit, bool enabled)
{
    label->setEnabled(enabled);
    if (label->property("lit").toBool() == lit && !label->styleSheet().isEmpty()) return;
    label->setProperty("lit", lit);
    label->setStyleSheet(
        lit ? u"QLabel { background: #2ecc40; color: black; border-radius: 3px; padding: 1px 4px; }"_s
            : u"QLabel { border: 1px solid palette(mid); border-radius: 3px; padding: 1px 4px; }"_s);
}

} // namespace

TCvModemPanel::TCvModemPanel(QWidget* parent) : QGroupBox(parent)
{
    setObjectName(u"GroupBoxModem"_s);
    auto* grid = new QGridLayout(this);
    FCheckBoxDTR = NewCheckBox(u"CheckBoxDTR"_s, u"DTR"_s, false);
    FCheckBoxRTS = NewCheckBox(u"CheckBoxRTS"_s, u"RTS"_s, false);
    FButtonPulseDTR = NewButton(u"ButtonPulseDTR"_s, QString());
    FButtonPulseRTS = NewButton(u"ButtonPulseRTS"_s, QString());
    FSpinPulseMs = Named(new QSpinBox, u"SpinPulseMs"_s);
    FSpinPulseMs->setRange(1, 10000);
    FSpinPulseMs->setValue(100);
    FSpinPulseMs->setSuffix(u" ms"_s);
    grid->addWidget(FCheckBoxDTR, 0, 0);
    grid->addWidget(FButtonPulseDTR, 0, 1);
    grid->addWidget(FCheckBoxRTS, 1, 0);
    grid->addWidget(FButtonPulseRTS, 1, 1);
    FLabelPulseMs = NewLabel(u"LabelPulseMs"_s, QString());
    grid->addWidget(FLabelPulseMs, 2, 0);
    grid->addWidget(FSpinPulseMs, 2, 1);
    auto* inputs = new QHBoxLayout;
    FLabelCTS = NewLabel(u"LabelCTS"_s, u"CTS"_s);
    FLabelDSR = NewLabel(u"LabelDSR"_s, u"DSR"_s);
    FLabelRI = NewLabel(u"LabelRI"_s, u"RI"_s);
    FLabelCD = NewLabel(u"LabelCD"_s, u"CD"_s);
    for (QLabel* l : {FLabelCTS, FLabelDSR, FLabelRI, FLabelCD}) {
        l->setAlignment(Qt::AlignCenter);
        Light(l, false, false);
        inputs->addWidget(l);
    }
    FButtonBreak = NewButton(u"ButtonBreak"_s, QString());
    FSpinBreakMs = Named(new QSpinBox, u"SpinBreakMs"_s);
    FSpinBreakMs->setRange(1, 10000);
    FSpinBreakMs->setValue(DefaultBreakMs);
    FSpinBreakMs->setSuffix(u" ms"_s);
    // Its length on the left, as the pulse length's; the action beside it, under the pulses.
    grid->addWidget(FSpinBreakMs, 3, 0);
    grid->addWidget(FButtonBreak, 3, 1);
    grid->addLayout(inputs, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    FTimerModem = Named(new QTimer(this), u"TimerModem"_s);
    FTimerModem->setInterval(PollMs);
    connect(FTimerModem, &QTimer::timeout, this, &TCvModemPanel::TimerModemTimer);
    connect(FCheckBoxDTR, &QCheckBox::clicked, this, &TCvModemPanel::CheckBoxDTRClick);
    connect(FCheckBoxRTS, &QCheckBox::clicked, this, &TCvModemPanel::CheckBoxRTSClick);
    connect(FButtonPulseDTR, &QPushButton::clicked, this, &TCvModemPanel::ButtonPulseDTRClick);
    connect(FButtonPulseRTS, &QPushButton::clicked, this, &TCvModemPanel::ButtonPulseRTSClick);
    connect(FButtonBreak, &QPushButton::clicked, this, &TCvModemPanel::ButtonBreakClick);
    ApplyCaptions(u"CN"_s);
}

void TCvModemPanel::ApplyCaptions(const QString& Lang)
{
    const bool en = Lang == u"EN"_s;
    setTitle(en ? u"Modem lines"_s : u"调制解调器控制线"_s);
    FButtonPulseDTR->setText(en ? u"Pulse DTR"_s : u"DTR 脉冲"_s);
    FButtonPulseRTS->setText(en ? u"Pulse RTS"_s : u"RTS 脉冲"_s);
    FLabelPulseMs->setText(en ? u"Pulse length"_s : u"脉冲宽度"_s);
    const QString tip = en ? u"Inverts the line for the pulse length, then restores it (resets a board, "
                             u"or puts it into its boot loader)"_s
                           : u"在脉冲宽度内反转该线后恢复（用于复位开发板或进入下载模式）"_s;
    FButtonPulseDTR->setToolTip(tip);
    FButtonPulseRTS->setToolTip(tip);
    FButtonBreak->setText(en ? u"Send Break"_s : u"发送 Break"_s);
    const QString breakTip =
        en ? u"Holds the transmit line at space for the break length (U-Boot, magic SysRq, "
             u"boot loaders)"_s
           : u"在 Break 时长内把发送线保持为低电平（用于 U-Boot、SysRq 魔术键、引导程序）"_s;
    FButtonBreak->setToolTip(breakTip);
    FSpinBreakMs->setToolTip(en ? u"Break length"_s : u"Break 时长"_s);
}

bool TCvModemPanel::DTR() const
{
    return FCheckBoxDTR->isChecked();
}
bool TCvModemPanel::RTS() const
{
    return FCheckBoxRTS->isChecked();
}
int TCvModemPanel::PulseMs() const
{
    return FSpinPulseMs->value();
}

void TCvModemPanel::SetLevels(bool Dtr, bool Rts, int PulseMs)
{
    FCheckBoxDTR->setChecked(Dtr);
    FCheckBoxRTS->setChecked(Rts);
    FSpinPulseMs->setValue(PulseMs);
}

int TCvModemPanel::BreakMs() const
{
    return FSpinBreakMs->value();
}

void TCvModemPanel::SetBreakMs(int Ms)
{
    FSpinBreakMs->setValue(Ms);
}

void TCvModemPanel::ApplyLevels(TCvComPortObj* Obj) const
{
    if (!Obj) return;
    Obj->SetDTR(FCheckBoxDTR->isChecked());
    Obj->SetRTS(FCheckBoxRTS->isChecked());
}

void TCvModemPanel::NoteSupport(TCvComPortObj* Obj)
{
    if (!Obj || !Obj->Connected()) return;
    if (Obj->ModemSupport() == TCustomComPort::TModemSupport::Unsupported)
        Obj->Log(
            Msg(u"Device %1 has no modem lines (DTR, RTS, CTS, DSR, RI, CD are not supported); they are not shown."_s)
                .arg(Obj->FComportFullName));
}

void TCvModemPanel::CheckBoxDTRClick()
{
    TCvComPortObj* obj = Current();
    if (obj && obj->Connected()) obj->SetDTR(FCheckBoxDTR->isChecked());
}

void TCvModemPanel::CheckBoxRTSClick()
{
    TCvComPortObj* obj = Current();
    if (obj && obj->Connected()) obj->SetRTS(FCheckBoxRTS->isChecked());
}

void TCvModemPanel::ButtonPulseDTRClick()
{
    TCvComPortObj* obj = Current();
    if (!obj || !obj->Connected()) return;
    // The pulse ends on the level the box shows (they agree unless set from elsewhere).
    if (obj->DTR() != FCheckBoxDTR->isChecked()) obj->SetDTR(FCheckBoxDTR->isChecked());
    obj->PulseDTR(FSpinPulseMs->value());
}

void TCvModemPanel::ButtonPulseRTSClick()
{
    TCvComPortObj* obj = Current();
    if (!obj || !obj->Connected()) return;
    if (obj->RTS() != FCheckBoxRTS->isChecked()) obj->SetRTS(FCheckBoxRTS->isChecked());
    obj->PulseRTS(FSpinPulseMs->value());
}

void TCvModemPanel::ButtonBreakClick()
{
    SendBreak(Current());
}

void TCvModemPanel::SendBreak(TCvComPortObj* obj)
{
    if (!obj || !obj->Connected()) return;
    const int ms = FSpinBreakMs->value();
    const int error = obj->SendBreak(ms);
    switch (error) {
    case 0: obj->Log(Msg(u"Sending a break of %1 ms."_s).arg(ms)); break;
    // One runs already: a second press within it changes nothing.
    case EBUSY: break;
    case ENOTTY:
    case EINVAL:
        obj->Log(Msg(u"Can not send a break on %1: not possible on this kind of port."_s)
                     .arg(obj->FComportFullName));
        break;
    case ENOTCONN:
        obj->Log(Msg(u"Can not send a break on %1: the connection is not ready yet."_s)
                     .arg(obj->FComportFullName));
        break;
    default:
        obj->Log(
            Msg(u"Can not send a break on %1: %2"_s).arg(obj->FComportFullName, EComPort::SystemText(error)));
        break;
    }
}

void TCvModemPanel::ShowLines(TCvComPortObj* Obj)
{
    if (Obj && Obj->Connected()) {
        FCheckBoxDTR->setChecked(Obj->DTR());
        FCheckBoxRTS->setChecked(Obj->RTS());
    }
    TimerModemTimer();
    if (Obj && Obj->Connected() && Obj->ModemSupport() != TCustomComPort::TModemSupport::Unsupported)
        FTimerModem->start();
}

void TCvModemPanel::TimerModemTimer()
{
    TCvComPortObj* obj = Current();
    TModemStatus s;
    const int error = obj && obj->Connected() ? obj->GetModemStatus(s) : EBADF;
    const bool known = error == 0;
    Light(FLabelCTS, s.CTS, known);
    Light(FLabelDSR, s.DSR, known);
    Light(FLabelRI, s.RI, known);
    Light(FLabelCD, s.CD, known);
    // Nothing to poll: closed, gone, or a device without the lines. Showing an open port
    // again starts the timer.
    if (!known && (error == EBADF || obj->ModemSupport() == TCustomComPort::TModemSupport::Unsupported))
        FTimerModem->stop();
}

void TCvModemPanel::LoadSettings(const TCvSettings& s)
{
    SetLevels(s.Pref.MODEMDTR, s.Pref.MODEMRTS, s.Pref.PULSEMS);
    SetBreakMs(s.Pref.BREAKMS);
}

void TCvModemPanel::SaveSettings(TCvSettings& s) const
{
    s.Pref.MODEMDTR = DTR();
    s.Pref.MODEMRTS = RTS();
    s.Pref.PULSEMS = PulseMs();
    s.Pref.BREAKMS = BreakMs();
}
