#include "TSplitViewForm.h"

#include "TCvAnswerRulesPanel.h"
#include "TCvScriptPanel.h"

#include "TJvHidDevice.h"

#include "CvCodecs.h"
#include "CvExceptions.h"
#include "CvLanguage.h"
#include "CvMessageBox.h"
#include "CvMessages.h"
#include "TCvChart.h"
#include "TCvChartPanel.h"
#include "TCvComPortObj.h"
#include "TCvFastLineSeries.h"
#include "TCvModemPanel.h"
#include "TCvPlotPage.h"
#include "TCvPortConsoles.h"
#include "TCvPortSettingsPanel.h"
#include "TDeviceMonitor.h"
#include "TLogMemo.h"
#include "TNetworkPortMenu.h"
#include "TNotebook.h"
#include "TPortLock.h"
#include "TSplitView.h"
#include "TTabSet.h"
#include "TVirtualPorts.h"
#include "cvPcDeviceMgt.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

TInputBoxPresenter& InputPresenter()
{
    static TInputBoxPresenter presenter;
    return presenter;
}

// What the settings panel shows, taken at one moment.
struct TPanelValues {
    int BaudRate, DataBits, StopBits, Parity, FlowControl, SendFormat, ReceiveFormat, HexCount;
    bool ShowDate, ShowTime, ShowLineNumber, ShowSended, HexWithString, Unicode;
};

// A right or middle press on the tab strip reaches the window before the strip acts.
class TTabMouseFilter : public QObject {
public:
    TTabMouseFilter(TSplitViewForm* form, QObject* parent) : QObject(parent), FForm(form) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* me = static_cast<QMouseEvent*>(event);
            const QPoint at = me->position().toPoint();
            FForm->TabSet2MouseDown(me->button(), at.x(), at.y());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TSplitViewForm* FForm;
};

} // namespace

QString InputBox(const QString& caption, const QString& prompt, const QString& value)
{
    if (InputPresenter()) return InputPresenter()(caption, prompt, value);
    bool ok = false;
    const QString text =
        QInputDialog::getText(QApplication::activeWindow(), caption, prompt, QLineEdit::Normal, value, &ok);
    return ok ? text : value;
}

TInputBoxPresenter SetInputBoxPresenter(TInputBoxPresenter presenter)
{
    TInputBoxPresenter old = std::move(InputPresenter());
    InputPresenter() = std::move(presenter);
    return old;
}

static TPanelValues ReadPanel(const TSplitViewForm* f)
{
    const TCvDisplayOptions d = f->FPreferences->Display();
    const TCvLineValues l = f->FPortSettings->Lines();
    return {l.BaudRate,       l.DataBits,      l.StopBits,      l.Parity,   l.FlowControl,
            l.SendFormat,     l.ReceiveFormat, d.HexCount,      d.ShowDate, d.ShowTime,
            d.ShowLineNumber, d.ShowSended,    d.HexWithString, d.Unicode};
}

static void ApplyPanel(TCvComPortObj* obj, const TPanelValues& p, TLogView* view, bool unicode)
{
    obj->CvComPortObjInit2(QString(), QString(), p.BaudRate, p.DataBits, p.StopBits, p.Parity, p.FlowControl,
                           p.SendFormat, p.ReceiveFormat, view, p.ShowDate, p.ShowTime, p.ShowLineNumber,
                           p.ShowSended, p.HexWithString);
    obj->FHexModeFormatCount = p.HexCount;
    // CheckBox12 unticked is one character per byte; ticked keeps the text encoding chosen.
    if (unicode && !p.Unicode && obj->TextEncoding() != TTextEncoding::Bytes)
        obj->SetTextEncoding(TTextEncoding::Bytes);
    else if (unicode && p.Unicode && obj->TextEncoding() == TTextEncoding::Bytes)
        obj->SetTextEncoding(kDefaultTextEncoding);
}

static int PageOf(const TNotebook* book, const QString& name)
{
    if (name.isEmpty()) return -1;
    for (int i = 0; i < book->PageCount(); ++i)
        if (book->PageCaption(i).compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

// The tabs follow the pages; the first tab is selected and its handling runs.
static void ReassignDeviceTabs(TSplitViewForm* f)
{
    f->TabSet2->AssignTabs(f->Notebook2->PageCaptions());
    f->TabSet2Change(0);
}

// ---- start-up ----

void TSplitViewForm::ConnectDevices()
{
    TCvDeviceManager* d = FDevices.get();
    connect(d, &TCvDeviceManager::Message, this, &TSplitViewForm::MainLogPrint);
    connect(d, &TCvDeviceManager::PortCreated, this, [this](TCvComPortObj* obj) { ApplyDebugOptions(obj); });
    connect(d, &TCvDeviceManager::PortOpened, this, [this](TCvComPortObj* obj) {
        // After the open lines the log file starts with.
        TCvModemPanel::NoteSupport(obj);
        obj->LogView()->SetReadOnly(true);
    });
    connect(d, &TCvDeviceManager::PortLost, this, &TSplitViewForm::DeviceLost);
    connect(d, &TCvDeviceManager::PortRenamed, this, &TSplitViewForm::PortRenamed);
    connect(d, &TCvDeviceManager::NoViewMessage, this,
            [](const QString& caption, const QString& text) { ShowInformation(caption, text); });
    connect(d, &TCvDeviceManager::DeviceArrived, this,
            [this](const QString& port) { WMDeviceChange(DeviceArrival, port); });
    connect(d, &TCvDeviceManager::DeviceRemoved, this,
            [this](const QString& port) { WMDeviceChange(DeviceRemoveComplete, port); });
    connect(d, &TCvDeviceManager::DevicesChanged, this,
            [this] { RefreshDeviceList(QString(), DeviceArrival); });
    connect(d, &TCvDeviceManager::HidDevicesChanged, this, &TSplitViewForm::HidDevicesChanged);
}

void TSplitViewForm::ConnectPortSettings()
{
    TCvPortSettingsPanel* p = FPortSettings;
    p->SetPortByName([this](const QString& name) { return GetDeciceByFullName(name); });
    p->SetSettingsPath([this](const QString& name) { return FDevices->SettingsPathOf(name); });
    p->SetTitle([this] { return ApplicationTitle(); });
    connect(p, &TCvPortSettingsPanel::RefreshClicked, this, &TSplitViewForm::Button4Click);
    connect(p, &TCvPortSettingsPanel::DeviceChosen, this, &TSplitViewForm::ComboBoxEx1Change);
    connect(p, &TCvPortSettingsPanel::TextEncodingShown, FPreferences, &TCvPreferencesPanel::SetUnicode);
    connect(p, &TCvPortSettingsPanel::ReconnectDropped, this, &TSplitViewForm::ReconnectDropped);
    FConsoles = new TCvPortConsoles(this);
    FConsoles->SetSendGate([this](TCvComPortObj* port, std::function<void()> send) {
        return HoldWhileSendingFile(port, std::move(send));
    });
    FConsoles->SetBreak([this](TCvComPortObj* port) { FModemPanel->SendBreak(port); });
    connect(p, &TCvPortSettingsPanel::ConsoleChosen, this,
            [this] { FConsoles->Apply(GetDeciceByFullName(GetCurrentDeviceName())); });
}

void TSplitViewForm::StartDevices()
{
    if (FDevices->Started()) return;
    FDevices->Start(SettingsFileName());
    ConnectDeviceControls();
}

void TSplitViewForm::HidDevicesChanged()
{
    // HID devices show in the device list as they come and go. Not before start-up has
    // listed the devices once: the controller reports while the window is being built.
    if (!FDevices->Started()) return;
    const QString selected = GetCurrentDeviceName();
    RefreshDeviceList(QString(), DeviceArrival);
    // The device the user had selected stays selected while it is listed.
    const int before = FPortSettings->CurrentDeviceIndex();
    if (!selected.isEmpty() && FPortSettings->SelectDevice(selected) &&
        FPortSettings->CurrentDeviceIndex() != before)
        ComboBoxEx1Change();
}

void TSplitViewForm::ConnectDeviceControls()
{
    // User choices only: MultiComportProcess sets these controls from a port object.
    connect(FPortSettings, &TCvPortSettingsPanel::OpenClicked, this, &TSplitViewForm::Button2Click);
    connect(FPortSettings, &TCvPortSettingsPanel::AttributesChosen, this,
            &TSplitViewForm::UpdateCvComPortObjAtrribute);
    connect(CloseTheDevice1, &QAction::triggered, this, &TSplitViewForm::CloseTheDevice1Click);
    TabSet2->installEventFilter(new TTabMouseFilter(this, TabSet2));

    auto* add = new QAction(this);
    add->setObjectName(u"AddVirtualPort1"_s);
    auto* remove = new QAction(this);
    remove->setObjectName(u"RemoveVirtualPort1"_s);
    connect(add, &QAction::triggered, this, [this] { AskVirtualPort(true); });
    connect(remove, &QAction::triggered, this, [this] { AskVirtualPort(false); });
    FPortSettings->AddDeviceAction(add);
    FPortSettings->AddDeviceAction(remove);
    FNetworkPortMenu = new TNetworkPortMenu(this);
    ApplyVirtualPortCaptions(UILanguage);
}

void TSplitViewForm::ApplyVirtualPortCaptions(const QString& Lang)
{
    const bool english = Lang == u"EN"_s;
    if (auto* add = findChild<QAction*>(u"AddVirtualPort1"_s))
        add->setText(english ? u"Add Virtual Port..."_s : u"添加虚拟串口..."_s);
    if (auto* remove = findChild<QAction*>(u"RemoveVirtualPort1"_s))
        remove->setText(english ? u"Remove Virtual Port..."_s : u"移除虚拟串口..."_s);
    if (FNetworkPortMenu) FNetworkPortMenu->ApplyCaptions(Lang);
}

// ---- device list ----

void TSplitViewForm::Button4Click()
{
    RefreshDeviceList(QString(), DeviceArrival);
}

void TSplitViewForm::RefreshDeviceList(const QString& DeviceName, int EventType)
{
    FPortSettings->SetDevices({}, QIcon());
    const QList<TSerialDeviceInfo> found =
        FDevices->Sync(FNetworkPortMenu ? FNetworkPortMenu->Devices() : QList<TSerialDeviceInfo>());

    if (EventType == DeviceRemoveComplete && !DeviceName.isEmpty()) {
        QStringList names;
        for (const TCvComPortListEntry& e : CvComPortList()) names << e.Name;
        // Closing changes nothing in the list: entries are taken as they were.
        const QList<TCvComPortListEntry> entries = CvComPortList();
        for (const qsizetype i : FindPortEntries(names, DeviceName)) {
            const TCvComPortListEntry e = entries.at(i);
            if (!e.Obj || !e.Obj->Connected() || FDevices->HoldForReconnect(e.Obj)) continue;
            // The port's own log says why it closed, as when the port notices the loss first;
            // closing then saves it.
            e.Obj->Log(Msg(u"Device %1 was removed."_s).arg(e.Obj->FComportFullName));
            CloseComDevice(e.Name);
        }
    }

    // HID devices are listed even when no serial port is present: they could not be
    // reached otherwise.
    QStringList listed, tips;
    for (const TSerialDeviceInfo& d : found) {
        listed << d.FullName;
        tips << DeviceToolTip(d);
    }
    listed << FDevices->HidNames();
    FPortSettings->SetDevices(listed, style()->standardIcon(QStyle::SP_DriveNetIcon), tips);
    ComboBoxEx1Change();
}

void TSplitViewForm::WMDeviceChange(int Event, const QString& PortName)
{
    if (PortName.isEmpty()) return;
    if (Event == DeviceArrival) {
        MainLogPrint(Msg(u"Device %1 was attached"_s).arg(PortName));
        FArrivals[PortName].start();
        RefreshDeviceList(PortName, DeviceArrival);
        ReconnectWaitingPorts();
    } else if (Event == DeviceRemoveComplete) {
        MainLogPrint(Msg(u"Device %1 was removed"_s).arg(PortName));
        // brltty takes adapters it thinks are braille displays: they vanish as soon as they came.
        const QElapsedTimer arrived = FArrivals.take(PortName);
        if (arrived.isValid() && arrived.elapsed() < BrlttyWindowMs &&
            !RunningPrograms(u"brltty"_s).isEmpty())
            MainLogPrint(Msg(u"Device %1 went away %2 s after it was plugged in, while brltty runs."_s)
                             .arg(PortName, QString::number(arrived.elapsed() / 1000.0, 'f', 1)) +
                         u' ' + BrlttyFixText());
        RefreshDeviceList(PortName, DeviceRemoveComplete);
    }
}

void TSplitViewForm::PortRenamed(TCvComPortObj* Obj, const QString& From, const QString& To)
{
    // Its page, found by its view: the main log while it holds it, else the page its view is on.
    int page = -1;
    if (Memo1Tag() == Obj) {
        page = 0;
    } else if (TLogMemo* view = TLogMemo::Of(Obj->LogView())) {
        for (int i = 1; i < Notebook2->PageCount(); ++i)
            if (Notebook2->widget(i)->isAncestorOf(view)) page = i;
    }
    if (page >= 0 && Notebook2->PageCaption(page).compare(From, Qt::CaseInsensitive) == 0) {
        Notebook2->SetPageCaption(page, To);
        if (page < TabSet2->count()) TabSet2->setTabText(page, To);
    }
    if (FPlotPages) FPlotPages->SetLanguage(UILanguage);
}

void TSplitViewForm::DeviceLost(TCvComPortObj* Obj)
{
    if (ReconnectLater(Obj)) return;
    // The port closed itself; the window lets go of it as if it had been closed here.
    const QString name = Obj->FComportFullName;
    ReleaseComDevice(Obj, name);
    Obj->StoreSettings(stIniFile, FDevices->SettingsPathOf(name));
    RefreshDeviceList(QString(), DeviceArrival);
}

// ---- virtual ports ----

bool TSplitViewForm::AddVirtualPort(const QString& Path)
{
    return FDevices->AddVirtualPort(Path);
}

bool TSplitViewForm::RemoveVirtualPort(const QString& Path)
{
    const QString full = TVirtualPorts::FullNameOf(TVirtualPorts::NormalizedPath(Path));
    if (TCvComPortObj* obj = GetDeciceByFullName(full); obj && obj->Connected() && FDevices->VirtualPorts())
        CloseComDevice(full);
    return FDevices->RemoveVirtualPort(Path);
}

void TSplitViewForm::AskVirtualPort(bool Add)
{
    QString proposal;
    if (!Add) {
        const QString current = GetCurrentDeviceName();
        for (const QString& p : VirtualPortPaths())
            if (TVirtualPorts::FullNameOf(p) == current) proposal = p;
    }
    const QString prompt = Add ? Msg(u"Path of the port to add (/dev/pts/N, a socat link):"_s)
                               : Msg(u"Path of the virtual port to remove:"_s);
    const QString path = InputBox(ApplicationTitle(), prompt, proposal).trimmed();
    if (path.isEmpty()) return;
    if (Add) AddVirtualPort(path);
    else RemoveVirtualPort(path);
}

// ---- selection and the panel ----

void TSplitViewForm::ComboBoxEx1Change()
{
    if (FPortSettings->DeviceCount() == 0 || FPortSettings->CurrentDeviceText() == u"None"_s) {
        FPortSettings->SetOpenCaption(GetLangCaption(u"OPRATION_OPEN"_s, UILanguage));
        return;
    }
    if (FPortSettings->CurrentDeviceIndex() < 0) FPortSettings->SelectDeviceAt(0);
    const QString name = FPortSettings->CurrentDeviceText();
    const QString port = ExtractPortName(name.trimmed());
    // A serial port whose description happens to hold "PID" stays a serial port.
    if (port.contains(u"PID"_s) && !GetDeciceByFullName(name)) {
        FPortSettings->SetOpenCaption(GetLangCaption(u"OPRATION_OPEN2"_s, UILanguage) + u' ' + port);
        return;
    }
    const int page = PageOf(Notebook2, name);
    if (page >= 0 && TabSet2->currentIndex() != page) TabSet2->setCurrentIndex(page);
    MultiComportProcess(FPortSettings->CurrentDeviceText());
}

void TSplitViewForm::MultiComportProcess(const QString& DeviceName)
{
    if (FPortSettings->CurrentDeviceIndex() < 0 || FPortSettings->CurrentDeviceText() == u"None"_s) {
        FPortSettings->SetOpenCaption(GetLangCaption(u"OPRATION_OPEN"_s, UILanguage));
        return;
    }
    TCvComPortObj* obj = GetDeciceByFullName(DeviceName);
    // A HID device has no answer rules.
    FAnswerRulesPanel->ShowPort(obj);
    if (!obj) return;
    FPortSettings->ShowPort(obj);
    const bool open = obj->Connected();
    if (open) FPreferences->ShowDisplay(obj);
    FPortSettings->SetOpenCaption(
        GetLangCaption(open ? u"OPRATION_CLOSE"_s : u"OPRATION_OPEN"_s, UILanguage) + u' ' + obj->Port());
    FModemPanel->ShowLines(obj);
}

void TSplitViewForm::UpdateCvComPortObjAtrribute()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj) return;
    ApplyPanel(obj, ReadPanel(this), nullptr, true);
    obj->FPromptEnding = FPortSettings->PromptEnding();
}

void TSplitViewForm::UpdateCvComPortObjAtrribute2(TCvComPortObj* CvComPortObj)
{
    if (!CvComPortObj) return;
    ApplyPanel(CvComPortObj, ReadPanel(this), nullptr, false);
    CvComPortObj->FPromptEnding = FPortSettings->PromptEnding();
}

// ---- open and close ----

void TSplitViewForm::Button2Click()
{
    const QString name = GetCurrentDeviceName();
    TJvHidDevice* hid = FDevices->CheckHID(name);
    if (FPortSettings->DeviceCount() == 0) {
        MainLogPrint(Msg(u"No device found"_s));
        FPortSettings->SetOpenCaption(GetLangCaption(u"OPRATION_OPEN"_s, UILanguage));
        return;
    }
    const QString caption = FPortSettings->OpenCaption().trimmed();
    bool open = caption.contains(u"开"_s) || caption.contains(u"Open"_s);
    // The device's own state decides: the caption may be stale after its device left.
    if (TCvComPortObj* obj = GetDeciceByFullName(name); obj && !hid) open = !obj->Connected();
    if (hid) open = !hid->IsCheckedOut();
    if (open) {
        if (hid) {
            FPortSettings->SetOpenCaption(FDevices->HidCheckOut(hid)
                                              ? GetLangCaption(u"OPRATION_CLOSE"_s, UILanguage)
                                              : GetLangCaption(u"OPRATION_OPEN2"_s, UILanguage) + u' ' +
                                                    hid->PortName());
        } else {
            OpenComDevice(name);
        }
    } else {
        if (hid) {
            hid->CheckIn();
            FPortSettings->SetOpenCaption(GetLangCaption(u"OPRATION_OPEN2"_s, UILanguage) + u' ' +
                                          hid->PortName());
        } else {
            CloseComDevice(name);
        }
    }
    // Opening or closing may have selected another device (the main-view holder).
    MultiComportProcess(GetCurrentDeviceName());
}

void TSplitViewForm::OpenComDevice(const QString& Name)
{
    TCvComPortObj* obj = GetDeciceByFullName(Name);
    if (Name.isEmpty() || !obj) return;
    // The device runs with what the panel showed for it at the press; placing it may
    // load another device's settings into the panel.
    const TPanelValues pressed = ReadPanel(this);

    if (PageOf(Notebook2, Name) < 0) {
        if (!Memo1Tag()) {
            // A view the window kept for it since it last held the main view is done with.
            const QPointer<TLogMemo> kept = TLogMemo::Of(obj->LogView());
            ApplyPanel(obj, pressed, Memo1, true);
            if (kept && kept != Memo1 && kept->parentWidget() == this) delete kept.data();
            Notebook2->SetPageCaption(0, obj->FComportFullName);
            SetMemo1Tag(obj);
            ReassignDeviceTabs(this);
        } else {
            // The view the window keeps for it, or a new one.
            TLogMemo* view = TLogMemo::Of(obj->LogView());
            if (!view) view = new TLogMemo(this);
            ApplyPanel(obj, pressed, view, true);
            auto* page = new QWidget;
            auto* layout = new QVBoxLayout(page);
            layout->setContentsMargins(0, 0, 0, 0);
            Notebook2->InsertPage(Notebook2->PageCount() - 2, page, obj->FComportFullName);
            layout->addWidget(view);
            view->setFont(Memo1->font());
            view->SetTextColor(Memo1->TextColor());
            view->SetBackgroundColor(Memo1->BackgroundColor());
            view->show();
            ReassignDeviceTabs(this);
            obj->ClearLog();
            obj->ClearInternalBuff(100);
            PrintPortBanner(obj);
        }
    }
    ApplyPanel(obj, pressed, nullptr, true);

    obj->FCallBackFun = [this](int Count) { CvComPortObjCallBack(Count); };
    if (obj->FReceiveFormat.load() == rfGraphic && !obj->Series() && Chart1)
        obj->SetSeries(Chart1->CharInitSeries(false));
    if (FPlotPages) FPlotPages->PortOpened(obj, FDevices->SettingsPathOf(obj->FComportFullName));

    FModemPanel->ApplyLevels(obj);
    if (!FDevices->Open(obj)) return;
    // Its console, when its switch is on, is fed from the first byte.
    FConsoles->Apply(obj);
    const int tab = PageOf(Notebook2, Name);
    if (tab >= 0 && TabSet2->currentIndex() != tab) TabSet2->setCurrentIndex(tab);
}

void TSplitViewForm::ReleaseComDevice(TCvComPortObj* Obj, const QString& Name)
{
    try {
        Obj->Close();
        // Its console goes, and its log view is back where the window placed it.
        FConsoles->Release(Obj);
        TLogView* view = Obj->LogView();
        const bool inMain = view == Memo1;
        const int page = PageOf(Notebook2, Name);
        const bool ownPage = page > 0 && !inMain;
        // Saved before the view is cleared, so the file keeps the session. The port that holds
        // the main log is saved too: its file would otherwise end at the last auto-save.
        if (ownPage || inMain) Obj->SaveLog(FDevices->LogPathOf(Obj));
        if (!inMain) {
            Obj->ClearLog();
            Obj->ClearInternalBuff(100);
            // Its view is kept hidden by the window until the next placement.
            TLogMemo* memo = TLogMemo::Of(view);
            if (!memo) {
                memo = new TLogMemo(this);
                Obj->SetLogView(memo);
            }
            memo->hide();
            memo->setParent(this);
            memo->hide();
        }
        if (Memo1Tag() == Obj) {
            SetMemo1Tag(nullptr);
            UpdateUiLaunguage(UILanguage);
        }
        if (ownPage) {
            const int at = PageOf(Notebook2, Name);
            if (at > 0) {
                QWidget* w = Notebook2->widget(at);
                Notebook2->removeWidget(w);
                delete w;
            }
            ReassignDeviceTabs(this);
        }
        if (inMain) {
            Obj->Log(Msg(u"Device %1 was closed."_s).arg(Obj->Port()));
            // A view of its own again, kept hidden by the window until the next placement.
            auto* own = new TLogMemo(this);
            own->hide();
            const TCvComPortObjPara c = Obj->GetConfiguration();
            Obj->CvComPortObjInit2(QString(), QString(), c.BaudRate, c.DataBits, c.StopBits, c.ParityBits,
                                   c.FlowControl, c.SendFormat, c.ReceiveFormat, own, c.ShowDate, c.ShowTime,
                                   c.ShowLineNumber, c.ShowSendedLog, c.HexModeWithString);
            Memo1->SetOnKeyDown({});
            Memo1->SetOnKeyPress({});
        }
    } catch (...) {
        qWarning("Releasing %s failed: %s", qPrintable(Name), qPrintable(CurrentExceptionText()));
        Obj->Log(Msg(u"Can not close  %1"_s).arg(Name));
    }
}

void TSplitViewForm::CloseComDevice(const QString& Name)
{
    TCvComPortObj* obj = GetDeciceByFullName(Name);
    if (Name.isEmpty() || !obj) return;
    // A port that waits for its device is placed still: closing lets go of it.
    const bool waiting = FDevices->StopWaiting(obj->FComportFullName);
    if (obj->Connected() || waiting) ReleaseComDevice(obj, Name);
    obj->StoreSettings(stIniFile, FDevices->SettingsPathOf(obj->FComportFullName));
}

void TSplitViewForm::CvComPortObjCallBack(int Count)
{
    StatusBarPrintFileSize();
    if (Count > 0) FChartPanel->Page()->ChartFollow(Count);
}

// ---- tabs ----

void TSplitViewForm::TabSet2MouseDown(Qt::MouseButton Button, int X, int Y)
{
    const QString caption = Notebook2->PageCaption(Notebook2->currentIndex()).trimmed();
    if (!GetDeciceByFullName(caption)) return;
    FPortSettings->SelectDevice(caption);
    ComboBoxEx1Change();
    if (Button == Qt::RightButton) {
        CloseTheDevice1->setText(UILanguage == u"CN"_s ? u"关闭这个设备"_s : u"Close The Device"_s);
        PopupMenu1->popup(mapToGlobal(QPoint(X + SV_L->width(), Y + Memo1->height())));
    } else if (Button == Qt::MiddleButton) {
        SV_L->SetOpened(!SV_L->IsOpened());
    }
}

void TSplitViewForm::CloseTheDevice1Click()
{
    CloseComDevice(TabSet2->tabText(TabSet2->currentIndex()));
    MultiComportProcess(GetCurrentDeviceName());
}
