#pragma once

#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;
class QTimer;
class TCvComPortObj;
class TCvFileSender;
class TStringGrid;
class TUpDown;
struct TCvSettings;

// The single-send page: the grid of texts (StringGrid1: number, tick, text, comment), a row
// sent by a click on its number, and loop sending of the ticked rows (Panel4 with
// ComboBoxEndGrid, Button3 and Button1; Timer1). Its settings box (GroupBox6: interval,
// count, enable switch) is placed by the window on the port-settings page.
class TCvLoopPanel : public QWidget {
    Q_OBJECT
public:
    explicit TCvLoopPanel(QWidget* parent = nullptr);
    ~TCvLoopPanel() override;

    // The port of the selected device, or none.
    void SetCurrentPort(std::function<TCvComPortObj*()> Provider) { FCurrentPort = std::move(Provider); }
    // The send format chosen on the port-settings page.
    void SetSendFormat(std::function<int()> Provider) { FSendFormat = std::move(Provider); }
    // A file being sent holds the grid's sends and skips the loop's turns.
    void SetFileSender(TCvFileSender* Sender) { FFileSender = Sender; }

    // GroupBox6, for the port-settings page.
    QGroupBox* SettingsBox() const { return FGroupBox6; }
    // The tick glyphs, the row numbers and the first selection; the window's style is set.
    void PrepareGrid();
    void ApplyCaptions(const QString& Lang);
    // The grid's texts and comments, the loop count and the grid's send ending.
    void LoadSettings(const TCvSettings& s);
    void SaveSettings(TCvSettings& s) const;
    // The content column follows the loop button's width.
    void FitContentColumn();
    // The loop sends to nothing from now on (the window closes).
    void ForgetTarget();

    const QPixmap& CheckGlyph(bool On) const { return On ? FCheck : FNoCheck; }
    TCvComPortObj* LoopTarget() const;

    void StringGrid1MouseDown(int ACol, int ARow);
    void StringGrid1SelectCell(int ACol, int ARow);
    void StringGrid1FixedCellClick(int ACol, int ARow);
    void Button1Click();
    void Button3Click();
    void Timer1Timer();
    // Edit5KeyPress / Edit22KeyPress: digits and Backspace only.
    static bool LoopKeyAccepted(int Key);

    // What the running loop sends, and to which port.
    QStringList LoopStringList;
    QPointer<TCvComPortObj> LoopTargetPort;

private:
    TCvComPortObj* Current() const { return FCurrentPort ? FCurrentPort() : nullptr; }
    int SendFormat() const { return FSendFormat ? FSendFormat() : 0; }
    bool HoldWhileSendingFile(TCvComPortObj* Obj, std::function<void()> Send);

    TStringGrid* FStringGrid1;
    QWidget* FPanel4;
    QComboBox* FComboBoxEndGrid;
    QPushButton* FButton3;
    QPushButton* FButton1;
    QTimer* FTimer1;
    QGroupBox* FGroupBox6;
    TUpDown* FUpDown1;
    TUpDown* FUpDown3;
    QCheckBox* FCheckBox19;
    QPixmap FCheck;
    QPixmap FNoCheck;
    qint32 FTimer1Timer_Count = 0;
    // A turn that finds the device still busy with the last one is skipped, said once per run.
    bool FLoopBusyTold = false;
    std::function<TCvComPortObj*()> FCurrentPort;
    std::function<int()> FSendFormat;
    TCvFileSender* FFileSender = nullptr;
};
