#pragma once

#include "CvCommandLine.h"
#include "CvInputBox.h"
#include "CvSettings.h"
#include "TCvDeviceManager.h"
#include "TCvFileSender.h"
#include "TCvFindBar.h"
#include "TCvLoopPanel.h"
#include "TCvModemPanel.h"
#include "TCvPortSettingsPanel.h"
#include "TCvPreferencesPanel.h"
#include "TCvTransferBox.h"

#include <QElapsedTimer>
#include <QHash>
#include <QLocale>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class TCvChart;
class TCvAnswerRulesPanel;
class TCvBlockSendPanel;
class TCvChartPanel;
class TCvProtocolPanel;
class TCvPortConsoles;
class TCvPlotPages;
class TCvScriptPanel;
class QFile;
class QLabel;
class QMenu;
class QNetworkAccessManager;
class QPushButton;
class QStatusBar;
class QTextBrowser;
class TCvComPortObj;
class TCvExcelApp;
class TCvInstanceServer;
class TCvSheetWriter;
class TJvHidDevice;
class TDeviceMonitor;
class TNetworkPortMenu;
class TLogMemo;
class TNotebook;
class TSplitView;
class TSplitterBar;
class TTabSet;

// The main window: the regions, notebooks, menus, status bar, language, start-up and
// shutdown, and the placing of each port's log. Devices are TCvDeviceManager's, the file
// send TCvFileSender's; the port-settings, preferences, block-send, grid/loop, protocol and
// graphic pages, the modem lines and the find bar are classes of their own
// (docs/architecture.md). Its own code is split by concern: regions (_LeftPanel,
// _RightPanel, TSplitViewForm.cpp), start-up and shutdown (_Startup), side panels, tabs and
// hot keys (_Panels), the window menu (_Menu), the help page (_Help), Corvane.ini
// (_Settings), the UI language (_Language), the main log (_MainLog), the device list and
// open/close (_Devices), port logs and capture (_Logs), block send (_Send), reconnect
// (_Modem), log fonts and colours and the preferences' signals (_Appearance), find and
// pause (_Find), a device the command line names (_CommandLine), answer rules and
// scripts (_Automation).
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
    // The configuration root a window started now uses (CorvaneCfgDir).
    static QString ConfigFolder();

    // The command line (TSplitViewForm_CommandLine.cpp): the device it names is found in the
    // device list by any of its names (or added to it as a virtual or network port), takes
    // the settings given on top of its own and opens as from the open button. True when it
    // is open (a network port: connecting) afterwards.
    bool OpenFromCommandLine(const TCvCommandLine& Options, bool FromAnotherStart = false);
    // Devices handed over by later starts open here.
    void TakeRequestsFrom(TCvInstanceServer* Server);
    // The device-list name of a device path, link or network port name; empty when unlisted.
    QString ListedNameOf(const QString& Device) const;

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

    // Appearance: themes and transparency are TCvPreferencesPanel's.
    // Transparency as asked for; platforms without window opacity (offscreen) ignore it.
    bool AlphaBlend() const { return FPreferences->AlphaBlend(); }
    int AlphaBlendValue() const { return FPreferences->AlphaBlendValue(); }
    void ApplyParentColors();
    static QStringList GetStyleNames() { return TCvPreferencesPanel::GetStyleNames(); }
    static QString GetStyleNameByIndex(int Index) { return TCvPreferencesPanel::GetStyleNameByIndex(Index); }
    static void ApplyStyleByName(const QString& Name) { TCvPreferencesPanel::ApplyStyleByName(Name); }
    static QString CurrentThemeName() { return TCvPreferencesPanel::CurrentThemeName(); }
    void SetStaysOnTop(bool on);
    void Button12Click();
    void Button17Click();

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
    QString GetCurrentDeviceName() const { return FPortSettings->CurrentDeviceName(); }
    TCvComPortObj* GetDeciceByFullName(const QString& DeviceName) const
    {
        return FDevices->ByFullName(DeviceName);
    }
    // The log files that could not be written, each with its reason.
    QStringList MultiComPortSaveLog() { return FDevices->SaveAndCloseAll(); }
    // The devices: port objects, HID, virtual ports, hot-plug.
    TCvDeviceManager* Devices() const { return FDevices.get(); }
    const QList<TCvComPortListEntry>& CvComPortList() const { return FDevices->List(); }
    QStringList& CvHIDDeviceList() { return FDevices->HidNames(); }
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
    TCvComPortObj* GetDeciceByPort(const QString& Port) const { return FDevices->ByPort(Port); }
    // An arrival or removal of a port: Event is DeviceArrival or DeviceRemoveComplete.
    void WMDeviceChange(int Event, const QString& PortName);
    // A device that leaves this soon after it came, while brltty runs, gets brltty's fix.
    static constexpr int BrlttyWindowMs = 3000;
    void Button2Click();
    void ComboBox1Change() { FPortSettings->ComboBox1Change(); }
    void TabSet2MouseDown(Qt::MouseButton Button, int X, int Y);
    void CloseTheDevice1Click();
    // Virtual ports added by path; false (with a line in Memo1) when refused.
    bool AddVirtualPort(const QString& Path);
    bool RemoveVirtualPort(const QString& Path);
    QStringList VirtualPortPaths() const { return FDevices->VirtualPortPaths(); }
    TDeviceMonitor* DeviceMonitor() const { return FDevices->Monitor(); }
    // The sysfs root of windows created from now on ("/sys"); tests hand in a fixture.
    static void SetDefaultSysRoot(const QString& Root) { TCvDeviceManager::SetDefaultSysRoot(Root); }
    static QString DefaultSysRoot() { return TCvDeviceManager::DefaultSysRoot(); }
    QString SysRoot() const { return FDevices->SysRoot(); }
    // The HID device of that list name, or none (serial devices).
    TJvHidDevice* CheckHID(const QString& Name) const { return FDevices->CheckHID(Name); }
    // Where the controller finds the system's HID devices; tests hand in a scripted one.
    using THidBackendFactory = TCvDeviceManager::THidBackendFactory;
    static THidBackendFactory SetHidBackendFactory(THidBackendFactory Factory)
    {
        return TCvDeviceManager::SetHidBackendFactory(std::move(Factory));
    }

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
    // Block send: Button8 sends the block to the selected device, Button7 clears its log.
    void Button8Click();
    void Button7Click();
    // The grid and loop sending are TCvLoopPanel's.
    void StringGrid1FixedCellClick(int ACol, int ARow) { FLoopPanel->StringGrid1FixedCellClick(ACol, ARow); }
    void Button1Click() { FLoopPanel->Button1Click(); }
    void Button3Click() { FLoopPanel->Button3Click(); }
    static bool LoopKeyAccepted(int Key) { return TCvLoopPanel::LoopKeyAccepted(Key); }
    const QStringList& LoopStringList() const { return FLoopPanel->LoopStringList; }
    TCvComPortObj* LoopTargetPort() const { return FLoopPanel->LoopTarget(); }
    const QPixmap& CheckGlyph(bool On) const { return FLoopPanel->CheckGlyph(On); }

    // File transfer: loading (Button23) and sending (Button24) by the file sender, which
    // runs from the event loop with Button26 to cancel; closing the port or the window stops it.
    // The transfer box (GroupBoxTransfer) picks the protocol and receives files.
    void Button23Click();
    void Button24Click();
    void Button26Click();
    void ButtonReceiveFileClick();
    void ButtonReceiveFolderClick();
    // Asks for the folder received files go to, starting at the one given; empty when
    // cancelled. Tests replace it.
    std::function<QString(const QString&)> ReceiveFolderDialog;
    TCvFileSender* FileSender() const { return FFileSender; }
    static QFile* OpenFileStream(const QString& FileName) { return TCvFileSender::OpenFileStream(FileName); }
    bool SendingFile() const { return FFileSender->Sending(); }
    TCvComPortObj* OpenCurrentPortOrTell();
    QFile* FileStream() const { return FFileSender->FileStream(); }
    QString FullFileNameLoaded() const { return FFileSender->FullFileNameLoaded(); }

    // The port object that writes into Memo1, or none.
    TCvComPortObj* Memo1Tag() const;
    void SetMemo1Tag(TCvComPortObj* Obj);

    QString ApplicationTitle() const { return FApplicationTitle; }

    // State of the window.
    QString CorvaneCfgDir;
    QString CorvaneCfgDir_LogFileName;
    QString UILanguage;

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
    // Plot hook: the waveform page's tabs, the waveform and a plot per ASCII port.
    TCvPlotPages* FPlotPages = nullptr;
    QTextBrowser* W4207315 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanels[3] = {};
    QMenu* SystemMenu = nullptr;
    QMenu* ThemeMenu = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* CloseTheDevice1 = nullptr;

    // Port-settings page (Notebook1's first page).
    TCvPortSettingsPanel* FPortSettings = nullptr;
    // Its file-transfer box, below the file buttons.
    TCvTransferBox* FTransferBox = nullptr;

    // Preferences page (Notebook1's second page).
    TCvPreferencesPanel* FPreferences = nullptr;

    // Right panel pages.
    TCvBlockSendPanel* FBlockSendPanel = nullptr;
    TCvLoopPanel* FLoopPanel = nullptr;
    TCvProtocolPanel* FProtocolPanel = nullptr;
    // The graphic page (its controls are its own).
    TCvChartPanel* FChartPanel = nullptr;
    // Its place among the right panel's pages: the answer rules and script pages follow it.
    int FGraphicPage = 3;
    // The answer rules of the selected port, and the script page (TSplitViewForm_Automation.cpp).
    TCvAnswerRulesPanel* FAnswerRulesPanel = nullptr;
    TCvScriptPanel* FScriptPanel = nullptr;
    // The port a script asks for by name, opened as from the open button when it is closed;
    // nullptr with *Error when it cannot be had.
    TCvComPortObj* OpenForScript(const QString& Name, const TCvCommandLine& Options, QString* Error);

    // Find in the log and pause (TSplitViewForm_Find.cpp).
    TCvFindBar* FFindBar = nullptr;
    QPushButton* ButtonPause = nullptr;
    // The log view the find bar and the pause button act on: that of the selected page,
    // or the main log Memo1 on the pages without one.
    TLogMemo* CurrentLogMemo() const;
    void ShowFindBar() { FFindBar->ShowBar(); }
    void CloseFindBar() { FFindBar->CloseBar(); }
    // Searches the current log view from its selection (or from what is on screen).
    void FindInLog(bool Forward) { FFindBar->Find(Forward); }
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
    void CreateRightPanel();
    void CreateCentre();
    void CreateChartPage();
    void CreateHelpPage();
    void CreateStatusBar();
    void CreateTimersAndMenus();
    void CreateFolders();
    void ConnectPreferences();
    void ApplySystemFixedTexts(const QString& Lang);
    void ConnectLogHandlers();
    void ConnectSendHandlers();
    void ConnectAutomation();
    void ConnectFileTransferHandlers();
    void ConnectDevices();
    void ConnectPortSettings();
    void StartDevices();
    void ConnectDeviceControls();
    void HidDevicesChanged();
    // The closing steps for a port object that was open (the port may be closed already).
    void ReleaseComDevice(TCvComPortObj* Obj, const QString& Name);
    void DeviceLost(TCvComPortObj* Obj);
    // Its page and tab follow the port's new full name.
    void PortRenamed(TCvComPortObj* Obj, const QString& From, const QString& To);
    void AskVirtualPort(bool Add);
    // The virtual-port menu of the device list in the UI language.
    void ApplyVirtualPortCaptions(const QString& Lang);
    // AppMessageHook: true when the key was taken.
    bool AppMessageHook(QEvent* event);
    // A key of a console: only Ctrl+Shift+F1 and Ctrl+Shift+F2 (the side panels) and
    // Ctrl+Shift+B (a break) are taken.
    bool ConsoleKey(QObject* console, QEvent* event);

    // Destroyed with the window's members, before its widgets: a port object may write into a
    // view placed in the window.
    std::unique_ptr<TCvDeviceManager> FDevices = std::make_unique<TCvDeviceManager>();
    QLocale FSystemLocale;
    QString FApplicationTitle;
    QString FLastSaveError;
    QStringList FFolderProblems;             // folders start-up could not create, told after the banner
    QHash<QString, QString> FDesignCaptions; // Chinese captions as built, by control name
    QPointer<TCvComPortObj> FMemo1Tag;
    // When each port name last arrived.
    QHash<QString, QElapsedTimer> FArrivals;
    TColorValue FMemo1FontColor = ColorSilver;
    TColorValue FMemo1BackgroundColor = SystemColorWindowText;
    QNetworkAccessManager* FNetwork = nullptr;
    quint64 FHelpGeneration = 0;
    bool FCentred = false;
    bool FClosed = false;
    TCvFileSender* FFileSender = nullptr;
    // Network ports of the device list (TCP, RFC 2217) and their menu.
    TNetworkPortMenu* FNetworkPortMenu = nullptr;
    qint64 FStatusPaintMs = 0;
    // The spreadsheet target of a port's capture: a window closed or a sheet full, it goes
    // on in a new workbook (a new window when needed) and says so in the port's log.
    std::unique_ptr<TCvSheetWriter> SpreadsheetCapture(TCvComPortObj* Obj, TCvExcelApp* App);
    // A send asked for during a file send waits for its end; true when it was held.
    bool HoldWhileSendingFile(TCvComPortObj* Obj, std::function<void()> Send)
    {
        return FFileSender->Hold(Obj, std::move(Send));
    }

public:
    // The debugging options of the preferences page (millisecond time stamps, hex lines
    // that end at a receive gap) to one port object, or to all when none is given.
    void ApplyDebugOptions(TCvComPortObj* Obj = nullptr);

    // Reconnecting a port whose device came back (TSplitViewForm_Modem.cpp), and the modem
    // lines of the selected port.
    TCvModemPanel* FModemPanel = nullptr;
    // The ports' consoles, in a stack with their logs.
    TCvPortConsoles* FConsoles = nullptr;
    static constexpr int ModemPollMs = TCvModemPanel::PollMs;
    // Full names of the ports lost while open that reopen when their device comes back.
    QStringList ReconnectWaiting() const { return FDevices->Waiting(); }

private:
    bool ReconnectLater(TCvComPortObj* Obj);
    void ReconnectWaitingPorts();
    void ReconnectDropped(const QString& FullName);

public:
    // CheckBox12 of the preferences page to the selected port's text encoding; the port's
    // encoding and line breaks are TCvPortSettingsPanel's.
    void CheckBox12Click() { FPortSettings->UnicodeChosen(FPreferences->Display().Unicode); }
};
