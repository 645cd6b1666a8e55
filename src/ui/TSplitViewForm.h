#pragma once

#include "CvSettings.h"

#include <QHash>
#include <QLocale>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QBoxLayout;
class QLineEdit;
class QSpinBox;
class TCvChart;
class TCvChartPage;
class TCvPlotPages;
class QCheckBox;
class QComboBox;
class QFile;
class QGroupBox;
class QLabel;
class QMenu;
class QNetworkAccessManager;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTextBrowser;
class QTimer;
class TCvComPortObj;
class TCvExcelApp;
class THidBackend;
class TJvHidDevice;
class TJvHidDeviceController;
class TDeviceMonitor;
class TVirtualPorts;
class TLogMemo;
class TNotebook;
class TSplitView;
class TSplitterBar;
class TStringGrid;
class TTabSet;
class TUpDown;
class TLogSearch;

// One entry of the list of known serial devices: full device name and its port object,
// which the window owns until it closes.
struct TCvComPortListEntry {
    QString Name;
    TCvComPortObj* Obj = nullptr;
};

// The main window. The class is split across files by concern: construction of each
// region (TSplitViewForm_*Panel.cpp, _Centre.cpp), start-up and shutdown (_Startup),
// side panels, tabs and hot keys (_Panels), the window menu (_Menu), the help page
// (_Help), Corvane.ini (_Settings), the UI language (_Language), the main log (_MainLog).
class TSplitViewForm : public QMainWindow {
    Q_OBJECT
public:
    // The start language follows systemLocale; production passes QLocale::system().
    explicit TSplitViewForm(const QLocale& systemLocale = QLocale::system(), QWidget* parent = nullptr);
    ~TSplitViewForm() override;

    // Start-up and shutdown.
    void FormCreate();
    void FormClose();
    static QString GetTimeStampFileName();
    static QString GetSpecialFolderPath(int Csidl);
    static bool CreateShortcut(const QString& Target, QString Name, const QString& Folder, int Csidl);

    // Side panels, tabs, hot keys.
    void ShowHideRLPanel(int RL);
    void SwitchTab(TTabSet* TabSet, int Index);
    void Splitter1Moved();
    void SV_LClosed();
    void SV_RClosed();
    void SV_ROpened();
    void TabSet1Change(int NewTab);
    void TabSet2Change(int NewTab);
    void TabSet3Change(int NewTab);
    // Page captions of the three notebooks into their tab strips, each strip on tab 0.
    void RefillTabSets();

    // Main log.
    void MainLogPrint(const QString& Text);

    // Window menu.
    void BuildSystemMenu();
    void WMSysCommand(int Id);

    // Help page.
    void ShowHelpPage();
    // Asynchronous: done(true) when the address answers 200 or 302 within the time-out.
    void ProbeUrl(const QString& Url, std::function<void(bool)> done);
    QString LocalHelpAddress() const;
    static constexpr int ProbeTimeoutMs = 3000;

    // Settings file.
    void TorvinLoadCfg();
    // False when Corvane.ini could not be written (LastSaveError says why); the old file stays.
    bool projectSave(bool SavePrivate);
    QString LastSaveError() const { return FLastSaveError; }
    QString SettingsFileName() const;

    // UI language.
    void UpdateUiLaunguage(const QString& Lang);
    void CheckBox6Click();
    void ApplyBuiltInCaptions(const QString& Lang);
    void ApplyLangFile(const QString& FileName);
    void ApplyUiFont(const QString& Lang);
    void PrintBanner(const QString& Lang);
    void PrintPortBanner(TCvComPortObj* Obj);
    QString LangFileName(const QString& Lang) const;
    static QString ControlCaption(const QObject* control);
    static void SetControlCaption(QObject* control, const QString& caption);

    // Appearance handlers that the settings file drives.
    void CheckBox7Click();
    // Transparency as asked for; platforms without window opacity (offscreen) ignore it.
    bool AlphaBlend() const { return FAlphaBlend; }
    int AlphaBlendValue() const { return FAlphaBlendValue; }
    void ApplyParentColors();
    QStringList GetStyleNames() const;
    // Empty when Index lies outside the list.
    QString GetStyleNameByIndex(int Index) const;
    // Application-wide; an unknown name changes nothing.
    static void ApplyStyleByName(const QString& Name);
    // The style or colour theme in use.
    static QString CurrentThemeName();
    void cbxVclStylesChange();
    void UpDown2Changing(int NewValue);
    void CheckBox8Click();
    void UpDown5Changing(int NewValue);
    void Button6Click();
    void CheckBox2Click();
    void SetStaysOnTop(bool on);
    void Button12Click();
    void Button17Click();

    // Protocol conversion page.
    static constexpr int ProtocolAddressBufferSize = 10;
    static constexpr int ProtocolDataBufferSize = 1024;
    void Button16Click();
    // A character other than a digit or backspace becomes CR, which the box does not insert.
    void ComboBox10KeyPress(QChar& Key);
    void ComboBox11KeyPress(QChar& Key);
    // Memo1's colours as the settings file holds them (system colours kept as such).
    TColorValue Memo1FontColor() const { return FMemo1FontColor; }
    TColorValue Memo1BackgroundColor() const { return FMemo1BackgroundColor; }
    void SetMemo1Colors(TColorValue font, TColorValue background);
    // What the log's system colours resolve against: the style's own palette, so that a
    // dark colour theme does not turn the log's "window text" background light.
    static QPalette LogSystemPalette();

    // Devices: the parts start-up and shutdown need.
    void Button4Click();
    void ComboBoxEx1Change();
    void MultiComportProcess(const QString& DeviceName);
    QString GetCurrentDeviceName() const;
    TCvComPortObj* GetDeciceByFullName(const QString& DeviceName) const;
    // The log files that could not be written, each with its reason.
    QStringList MultiComPortSaveLog();
    // Open-device manager. Bodies arrive with the device work; declared here so that the
    // panels that act on the current device can be built beside it.
    void OpenComDevice(const QString& Name);
    void CloseComDevice(const QString& Name);
    void UpdateCvComPortObjAtrribute();
    void UpdateCvComPortObjAtrribute2(TCvComPortObj* CvComPortObj);
    void CvComPortObjCallBack(int Count);
    // The transfer counters of the selected device in the last status panel.
    void StatusBarPrintFileSize();

    // Device list, hot-plug and the device tabs.
    static constexpr int DeviceArrival = 0x8000;
    static constexpr int DeviceRemoveComplete = 0x8004;
    void RefreshDeviceList(const QString& DeviceName, int EventType);
    TCvComPortObj* GetDeciceByPort(const QString& Port) const;
    // An arrival or removal of a port: Event is DeviceArrival or DeviceRemoveComplete.
    void WMDeviceChange(int Event, const QString& PortName);
    void Button2Click();
    void ComboBox1Change();
    void TabSet2MouseDown(Qt::MouseButton Button, int X, int Y);
    void CloseTheDevice1Click();
    // Virtual ports added by path; false (with a line in Memo1) when refused.
    bool AddVirtualPort(const QString& Path);
    bool RemoveVirtualPort(const QString& Path);
    QStringList VirtualPortPaths() const;
    TDeviceMonitor* DeviceMonitor() const { return FDeviceMonitor; }
    // The sysfs root of windows created from now on ("/sys"); tests hand in a fixture.
    static void SetDefaultSysRoot(const QString& Root);
    static QString DefaultSysRoot();
    QString SysRoot() const { return FSysRoot; }
    // The HID device of that list name, or none (serial devices).
    TJvHidDevice* CheckHID(const QString& Name) const;

    // HID devices.
    TJvHidDeviceController* JvHidDeviceController1 = nullptr;
    void CreateHidController();
    void JvHidDeviceController1DeviceChange(TJvHidDeviceController* Sender);
    bool JvHidDeviceController1Enumerate(TJvHidDevice* HidDev, int Idx);
    void JvHidDeviceController1DeviceData(TJvHidDevice* HidDev, quint8 ReportID, const quint8* Data, quint16 Size);
    // False when nothing was written (device not open, no output report, write failed).
    bool HIDWrite(TJvHidDevice* HidDev, const std::array<quint8, 256>& Buffer);
    // Opens a HID device; one that does not open is said in Memo1 with the reason and stays closed.
    bool HidCheckOut(TJvHidDevice* HidDev);
    // The block-send editor's text as one output report, echoed into Memo1.
    void HidBlockSend(TJvHidDevice* HidDev, const QString& Text);
    // Where the controller finds the system's HID devices; tests hand in a scripted one.
    using THidBackendFactory = std::function<std::unique_ptr<THidBackend>()>;
    static THidBackendFactory SetHidBackendFactory(THidBackendFactory Factory);

    // Port logs and capture.
    void Button10Click();
    void Button5Click();
    void ComboBox7Change();
    void Button13Click();
    void Button14Click();
    void Timer2Timer();
    // The log file of a port in this run.
    QString PortLogFileName(const TCvComPortObj* Obj) const;
    // SaveDialog1 and OpenDialog1: the chosen name, empty when cancelled. Tests replace them.
    std::function<QString()> SaveDialog1;
    std::function<QString()> OpenDialog1;
    QString SaveDialog1FileName;

    // Send panels and loop sending.
    void Button8Click();
    void Button7Click();
    void Button9Click();
    void Button11Click();
    void Button25Click();
    void StringGrid1MouseDown(int ACol, int ARow);
    void StringGrid1SelectCell(int ACol, int ARow);
    void StringGrid1FixedCellClick(int ACol, int ARow);
    void Button1Click();
    void Button3Click();
    void Timer1Timer();
    // Edit5KeyPress / Edit22KeyPress: digits and Backspace only.
    static bool LoopKeyAccepted(int Key);

    // File transfer. The send runs from the event loop: chunks go out as the device takes
    // them, with progress in the status bar and Button26 to cancel; closing the port or
    // the window stops it. Sends asked for meanwhile wait until it has ended.
    void Button23Click();
    void Button24Click();
    void Button26Click();
    // Read-only, shared-locked against writers; none when it cannot be opened so.
    static QFile* OpenFileStream(const QString& FileName);
    bool SendingFile() const { return FSendingFile; }

    // The port object that writes into Memo1, or none.
    TCvComPortObj* Memo1Tag() const;
    void SetMemo1Tag(TCvComPortObj* Obj);

    QString ApplicationTitle() const { return FApplicationTitle; }

    // State of the window.
    QString CorvaneCfgDir;
    QString CorvaneCfgDir_LogFileName;
    QFile* FileStream = nullptr;
    QString FullFileNameLoaded;
    QList<TCvComPortListEntry> CvComPortList;
    QStringList CvHIDDeviceList;
    QString UILanguage;
    QStringList LoopStringList;
    qint32 FTimer1Timer_Count = 0;
    QPixmap FCheck;
    QPixmap FNoCheck;
    QPointer<TCvComPortObj> LoopTargetPort;

    // Regions.
    TSplitView* SV_L = nullptr;
    TSplitView* SV_R = nullptr;
    TSplitterBar* Splitter1 = nullptr;
    QWidget* Panel1 = nullptr;
    TNotebook* Notebook1 = nullptr;
    TNotebook* Notebook2 = nullptr;
    TNotebook* Notebook3 = nullptr;
    TTabSet* TabSet1 = nullptr;
    TTabSet* TabSet2 = nullptr;
    TTabSet* TabSet3 = nullptr;
    TLogMemo* Memo1 = nullptr;
    TCvChart* Chart1 = nullptr;
    // Binds the graphic page's controls to Chart1.
    TCvChartPage* FChartPage = nullptr;
    // Plot hook: the waveform page's tabs, the waveform and a plot per ASCII port.
    TCvPlotPages* FPlotPages = nullptr;
    QTextBrowser* W4207315 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanels[3] = {};
    QMenu* SystemMenu = nullptr;
    QMenu* ThemeMenu = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* CloseTheDevice1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    // Settings page.
    QComboBox* ComboBoxEx1 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button2 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QComboBox* ComboBox4 = nullptr;
    QComboBox* ComboBox5 = nullptr;
    QComboBox* ComboBox6 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* ComboBox7 = nullptr;
    QPushButton* Button10 = nullptr;
    QGroupBox* GroupBox6 = nullptr;
    TUpDown* UpDown1 = nullptr;
    TUpDown* UpDown3 = nullptr;
    QCheckBox* CheckBox19 = nullptr;
    QPushButton* Button12 = nullptr;
    QPushButton* Button17 = nullptr;
    QPushButton* Button23 = nullptr;
    QPushButton* Button24 = nullptr;
    // Cancels the running file send; shown in the status bar only while one runs.
    QPushButton* Button26 = nullptr;
    QPushButton* Button13 = nullptr;
    QPushButton* Button14 = nullptr;

    // Advanced page.
    QComboBox* cbxVclStyles = nullptr;
    QCheckBox* CheckBox7 = nullptr;
    TUpDown* UpDown2 = nullptr;
    QCheckBox* CheckBox8 = nullptr;
    TUpDown* UpDown5 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button5 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox25 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QCheckBox* CheckBox9 = nullptr;
    QComboBox* ComboBox8 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox12 = nullptr;

    // Right panel pages.
    QPlainTextEdit* Memo3 = nullptr;
    QPushButton* Button9 = nullptr;
    QPushButton* Button11 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QWidget* Panel2 = nullptr;
    QPushButton* Button7 = nullptr;
    QPushButton* Button8 = nullptr;
    QPushButton* Button25 = nullptr;
    TStringGrid* StringGrid1 = nullptr;
    QWidget* Panel4 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button1 = nullptr;
    QComboBox* ComboBox9 = nullptr;
    QComboBox* ComboBox10 = nullptr;
    QComboBox* ComboBox11 = nullptr;
    QComboBox* ComboBox12 = nullptr;
    QPlainTextEdit* Memo5 = nullptr;
    QPushButton* Button16 = nullptr;
    QGroupBox* GroupBox10 = nullptr;
    QWidget* Panel15 = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* Label17 = nullptr;
    QCheckBox* CheckBox10 = nullptr;
    QCheckBox* CheckBox11 = nullptr;
    QPushButton* Button15 = nullptr;
    QPushButton* Button18 = nullptr;
    QPushButton* Button19 = nullptr;
    QPushButton* ButtonColor1 = nullptr;
    QPushButton* ButtonColor2 = nullptr;
    QPushButton* Button20 = nullptr;
    QPushButton* Button21 = nullptr;
    QPushButton* Button22 = nullptr;

    // Find in the log and pause (TSplitViewForm_Find.cpp).
    QWidget* PanelFind = nullptr;
    QLabel* LabelFind = nullptr;
    QLineEdit* EditFind = nullptr;
    QPushButton* ButtonFindNext = nullptr;
    QPushButton* ButtonFindPrev = nullptr;
    QCheckBox* CheckBoxFindCase = nullptr;
    QLabel* LabelFindStatus = nullptr;
    QPushButton* ButtonFindClose = nullptr;
    QPushButton* ButtonPause = nullptr;
    TLogSearch* FLogSearch = nullptr;
    // The log view the find bar and the pause button act on: that of the selected page,
    // or the main log Memo1 on the pages without one.
    TLogMemo* CurrentLogMemo() const;
    void ShowFindBar();
    void CloseFindBar();
    // Searches the current log view from its selection (or from what is on screen).
    void FindInLog(bool Forward);
    void ButtonPauseClick();
    // The pause button shows the state of the selected page.
    void SyncPauseButton();
    // Ctrl+F anywhere in the window; Esc, Enter and Shift+Enter in the find bar.
    bool FindBarKey(QObject* watched, QEvent* event);
    void ApplyFindCaptions(const QString& Lang);
    void CreateFindBar();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateLeftPanel();
    void CreateSettingsPage(QWidget* page);
    void CreateAdvancedPage(QWidget* page);
    void CreateRightPanel();
    void CreateBlockSendPage(QWidget* page);
    void CreateSingleSendPage(QWidget* page);
    void CreateProtocolPage(QWidget* page);
    void CreateGraphicPage(QWidget* page);
    void CreateCentre();
    void CreateChartPage();
    void CreateHelpPage();
    void CreateStatusBar();
    void CreateTimersAndMenus();
    void CreateCheckGlyphs();
    void CreateFolders();
    void ConnectPreferences();
    void ConnectProtocolPage();
    void ApplySystemFixedTexts(const QString& Lang);
    void ConnectLogHandlers();
    void ConnectSendHandlers();
    void ConnectFileTransferHandlers();
    void StartDevices();
    void ConnectDeviceControls();
    // The closing steps for a port object that was open (the port may be closed already).
    void ReleaseComDevice(TCvComPortObj* Obj, const QString& Name);
    void DeviceLost(TCvComPortObj* Obj);
    void AskVirtualPort(bool Add);
    // The virtual-port menu of the device list in the UI language.
    void ApplyVirtualPortCaptions(const QString& Lang);
    // AppMessageHook: true when the key was taken.
    bool AppMessageHook(QEvent* event);

    QLocale FSystemLocale;
    QString FApplicationTitle;
    QString FLastSaveError;
    QStringList FFolderProblems; // folders start-up could not create, told after the banner
    QHash<QString, QString> FDesignCaptions; // Chinese captions as built, by control name
    QPointer<TCvComPortObj> FMemo1Tag;
    TColorValue FMemo1FontColor = ColorSilver;
    TColorValue FMemo1BackgroundColor = SystemColorWindowText;
    QNetworkAccessManager* FNetwork = nullptr;
    quint64 FHelpGeneration = 0;
    bool FAlphaBlend = false;
    int FAlphaBlendValue = 255;
    bool FCentred = false;
    bool FClosed = false;
    QString FSysRoot = DefaultSysRoot();
    std::shared_ptr<TVirtualPorts> FVirtualPorts;
    TDeviceMonitor* FDeviceMonitor = nullptr;
    bool FSendingFile = false;
    qint64 FStatusPaintMs = 0;
    enum class TFileSendEnd { Done, Cancelled, Closed, Failed };
    // The file send in progress (none when FSendingFile is false).
    struct TFileSend {
        QPointer<TCvComPortObj> Port;
        qint64 Total = 0;
        qint64 Sent = 0;
        bool InFlight = false;
        bool Stepping = false;
        bool Cancelled = false;
        bool HeldTold = false;
        std::optional<TFileSendEnd> Ended;
        int SkippedTurns = 0;
        qint64 ProgressMs = 0;
        QList<std::function<void()>> Held;
        QList<QPointer<QWidget>> Locked;
        QString PanelText;
    };
    std::unique_ptr<TFileSend> FFileSend;
    void FileSendStep();
    void FileChunkDone(const QByteArray& chunk, qint64 written, int error);
    void EndFileSend(TFileSendEnd how);
    void ShowFileSendProgress();
    // The spreadsheet target of a port's capture: a window closed or a sheet full, it goes
    // on in a new workbook (a new window when needed) and says so in the port's log.
    std::function<qint64(const quint8*, int, qint64)> SpreadsheetCapture(TCvComPortObj* Obj,
                                                                         TCvExcelApp* App);
    // A send asked for during a file send waits for its end; true when it was held.
    bool HoldWhileSendingFile(TCvComPortObj* Obj, std::function<void()> Send);
    // Loop sending: a turn that finds the device still busy with the last one is skipped,
    // said once per run.
    bool FLoopBusyTold = false;

public:
    // Debugging options (TSplitViewForm_DebugOptions.cpp): millisecond time stamps and hex
    // lines that end at a receive gap (advanced page), the checksum calculator (block send).
    QCheckBox* CheckBoxMsTime = nullptr;
    QCheckBox* CheckBoxHexGap = nullptr;
    QSpinBox* SpinHexGapMs = nullptr;
    QComboBox* ComboCrcKind = nullptr;
    QLineEdit* EditCrcResult = nullptr;
    QPushButton* ButtonCrcCalc = nullptr;
    QPushButton* ButtonCrcAppend = nullptr;
    QLabel* LabelCrcHelp = nullptr;
    // The time-stamp and gap options to one port object, or to all when none is given.
    void ApplyDebugOptions(TCvComPortObj* Obj = nullptr);
    void ButtonCrcCalcClick();
    void ButtonCrcAppendClick();

private:
    void CreateCrcRow(QBoxLayout* column);
    void ConnectDebugOptions();
    void ApplyDebugCaptions();

public:
    // Reconnecting a port whose device came back, and the modem lines of the selected
    // port (TSplitViewForm_Modem.cpp).
    QCheckBox* CheckBoxReconnect = nullptr;
    QGroupBox* GroupBoxModem = nullptr;
    QCheckBox* CheckBoxDTR = nullptr;
    QCheckBox* CheckBoxRTS = nullptr;
    QPushButton* ButtonPulseDTR = nullptr;
    QPushButton* ButtonPulseRTS = nullptr;
    QLabel* LabelPulseMs = nullptr;
    QSpinBox* SpinPulseMs = nullptr;
    QLabel* LabelCTS = nullptr;
    QLabel* LabelDSR = nullptr;
    QLabel* LabelRI = nullptr;
    QLabel* LabelCD = nullptr;
    QTimer* TimerModem = nullptr;
    static constexpr int ModemPollMs = 150;
    void CheckBoxReconnectClick();
    void CheckBoxDTRClick();
    void CheckBoxRTSClick();
    void ButtonPulseDTRClick();
    void ButtonPulseRTSClick();
    void TimerModemTimer();
    // Full names of the ports lost while open that reopen when their device comes back.
    QStringList ReconnectWaiting() const { return FReconnectWaiting; }

private:
    void CreateModemControls();
    void ApplyModemCaptions(const QString& Lang);
    void ApplyModemLevels(TCvComPortObj* Obj);
    void NoteModemSupport(TCvComPortObj* Obj);
    void ShowModemLines(TCvComPortObj* Obj);
    bool HoldForReconnect(TCvComPortObj* Obj);
    bool ReconnectLater(TCvComPortObj* Obj);
    bool StopWaitingForReconnect(const QString& Name);
    void ReconnectWaitingPorts();
    QStringList FReconnectWaiting;

public:
    // How the selected port's text becomes bytes and bytes text: its encoding (CheckBox12,
    // "compatible Unicode", is ticked for every encoding but one character per byte) and
    // which received characters end a line (TSplitViewForm_Text.cpp).
    QLabel* LabelEncoding = nullptr;
    QComboBox* ComboBoxEncoding = nullptr;
    QLabel* LabelLineBreaks = nullptr;
    QComboBox* ComboBoxLineBreaks = nullptr;
    // What ends an ASCII send of the block editor, a grid row and the prompt.
    QComboBox* ComboBoxEndBlock = nullptr;
    QComboBox* ComboBoxEndGrid = nullptr;
    QLabel* LabelEndPrompt = nullptr;
    QComboBox* ComboBoxEndPrompt = nullptr;
    void ComboBoxEncodingChange();
    void ComboBoxLineBreaksChange();
    void CheckBox12Click();

private:
    void CreateTextControls();
    void ApplyTextCaptions(const QString& Lang);
    void ShowTextOptions(TCvComPortObj* Obj);
    void StoreTextOptions(TCvComPortObj* Obj);
};

// The input box of the window (caption, prompt, default text); cancelling yields the
// default. Tests replace the presenter so that nothing modal blocks a headless run.
using TInputBoxPresenter = std::function<QString(const QString& caption, const QString& prompt, const QString& value)>;
QString InputBox(const QString& caption, const QString& prompt, const QString& value);
// Returns the previous presenter; an empty function restores the default (QInputDialog).
TInputBoxPresenter SetInputBoxPresenter(TInputBoxPresenter presenter);
