#pragma once

#include <QGroupBox>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;
class TCvComPortObj;

struct TCvSettings;

// The modem lines of the selected port (GroupBoxModem): DTR and RTS set and pulsed, a break
// sent, CTS, DSR, RI and CD shown while it is open (TimerModem polls them).
class TCvModemPanel : public QGroupBox {
    Q_OBJECT
public:
    static constexpr int PollMs = 150;
    static constexpr int DefaultBreakMs = 250;

    explicit TCvModemPanel(QWidget* parent = nullptr);

    // The port of the selected device, or none.
    void SetCurrentPort(std::function<TCvComPortObj*()> Provider) { FCurrentPort = std::move(Provider); }

    void ApplyCaptions(const QString& Lang);
    // The levels the boxes show, set on a port about to open.
    void ApplyLevels(TCvComPortObj* Obj) const;
    // Says in the port's log when an open device has no modem lines.
    static void NoteSupport(TCvComPortObj* Obj);
    // The lines of Obj, the port now selected; polled while it is open and has them.
    void ShowLines(TCvComPortObj* Obj);

    // What Corvane.ini keeps.
    bool DTR() const;
    bool RTS() const;
    int PulseMs() const;
    void SetLevels(bool Dtr, bool Rts, int PulseMs);
    int BreakMs() const;
    void SetBreakMs(int Ms);
    // Its part of Corvane.ini: the levels, the pulse and the break length.
    void LoadSettings(const TCvSettings& s);
    void SaveSettings(TCvSettings& s) const;

    void CheckBoxDTRClick();
    void CheckBoxRTSClick();
    void ButtonPulseDTRClick();
    void ButtonPulseRTSClick();
    // A break of the chosen length on the selected open port, told in its log.
    void ButtonBreakClick();
    // The same on Obj (the console's break key).
    void SendBreak(TCvComPortObj* Obj);
    void TimerModemTimer();

private:
    TCvComPortObj* Current() const { return FCurrentPort ? FCurrentPort() : nullptr; }

    QCheckBox* FCheckBoxDTR;
    QCheckBox* FCheckBoxRTS;
    QPushButton* FButtonPulseDTR;
    QPushButton* FButtonPulseRTS;
    QLabel* FLabelPulseMs;
    QSpinBox* FSpinPulseMs;
    QPushButton* FButtonBreak;
    QSpinBox* FSpinBreakMs;
    QLabel* FLabelCTS;
    QLabel* FLabelDSR;
    QLabel* FLabelRI;
    QLabel* FLabelCD;
    QTimer* FTimerModem;
    std::function<TCvComPortObj*()> FCurrentPort;
};
