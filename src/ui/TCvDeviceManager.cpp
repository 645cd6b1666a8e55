#include "TCvDeviceManager.h"

#include "CvCodecs.h"
#include "CvHidText.h"
#include "CvMessages.h"
#include "TCvComPortObj.h"
#include "TDeviceMonitor.h"
#include "THidBackend.h"
#include "TJvHidDevice.h"
#include "TJvHidDeviceController.h"
#include "TVirtualPorts.h"
#include "cvPcDeviceMgt.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {

QString& SysRootForNewManagers()
{
    static QString root = u"/sys"_s;
    return root;
}

QString& DevRootForNewManagers()
{
    static QString root = u"/dev"_s;
    return root;
}

TCvDeviceManager::THidBackendFactory& BackendFactory()
{
    static TCvDeviceManager::THidBackendFactory f;
    return f;
}

// Why a HID device did not open, and what helps.
QString HidOpenReason(int Code)
{
    switch (Code) {
    case EACCES:
    case EPERM:
        return Msg(u"permission denied. Install the udev rule that lets the logged-in user open HID devices "
                   u"(60-corvane-hidraw.rules, see README) and plug the device in again."_s);
    case EBUSY: return Msg(u"the device is in use by another program."_s);
    case ENOENT:
    case ENODEV:
    case ENXIO: return Msg(u"the device is gone (unplugged?)."_s);
    case ENOTTY: return Msg(u"it does not answer as a HID device."_s);
    default: return QString::fromLocal8Bit(std::strerror(Code));
    }
}

} // namespace

TCvDeviceManager::TCvDeviceManager(QObject* parent)
    : QObject(parent), FSysRoot(DefaultSysRoot()), FDevRoot(DefaultDevRoot())
{}

TCvDeviceManager::~TCvDeviceManager() = default;

void TCvDeviceManager::SetDefaultSysRoot(const QString& Root)
{
    SysRootForNewManagers() = Root;
}
QString TCvDeviceManager::DefaultSysRoot()
{
    return SysRootForNewManagers();
}

void TCvDeviceManager::SetDefaultDevRoot(const QString& Root)
{
    DevRootForNewManagers() = Root;
}
QString TCvDeviceManager::DefaultDevRoot()
{
    return DevRootForNewManagers();
}

QString TCvDeviceManager::PortNameOf(const TSerialDeviceInfo& Device)
{
    // A kernel name where /dev holds it (the name the user knows); the path otherwise.
    if (Device.Kind == TSerialPortKind::Virtual || Device.Kind == TSerialPortKind::Network)
        return Device.DevicePath;
    return Device.DevicePath == u"/dev/"_s + Device.Node ? Device.Node : Device.DevicePath;
}

void TCvDeviceManager::SetFolders(const QString& CfgDir, const QString& LogBase)
{
    FCfgDir = CfgDir;
    FLogBase = LogBase;
}

QString TCvDeviceManager::SettingsPathOf(const QString& FullName) const
{
    return FCfgDir + u"Setting/"_s + SafeFileNamePart(FullName) + u".ini"_s;
}

QString TCvDeviceManager::LogPathOf(const TCvComPortObj* Obj) const
{
    return FLogBase + u'_' + SafeFileNamePart(Obj->Port()) + u".log"_s;
}

// ---- port objects ----

TCvComPortObj* TCvDeviceManager::ByFullName(const QString& FullName) const
{
    if (FullName.isEmpty()) return nullptr;
    for (const TCvComPortListEntry& e : FList)
        if (e.Name.compare(FullName, Qt::CaseInsensitive) == 0) return e.Obj;
    return nullptr;
}

TCvComPortObj* TCvDeviceManager::ByPort(const QString& Port) const
{
    // A whole port name, not a substring: COM3 must not find (COM30). Among entries of
    // the same port (another adapter on ttyUSB0) the open one is the one meant.
    QStringList names;
    for (const TCvComPortListEntry& e : FList) names << e.Name;
    TCvComPortObj* found = nullptr;
    for (const qsizetype i : FindPortEntries(names, Port)) {
        TCvComPortObj* obj = FList.at(i).Obj;
        if (!obj) continue;
        if (!found || obj->Connected()) found = obj;
    }
    return found;
}

TCvComPortObj* TCvDeviceManager::Adopt(const QString& Name, TCvComPortObj* Obj)
{
    if (!Obj) return nullptr;
    Obj->setParent(this);
    FList.append({Name, Obj});
    connect(Obj, &QObject::destroyed, this, [this](QObject* gone) {
        FList.removeIf([gone](const TCvComPortListEntry& e) { return e.Obj == gone; });
        FIdentity.remove(gone);
        FToldOther.remove(gone);
    });
    connect(Obj, &TCustomComPort::DeviceLost, this, [this, Obj] { emit PortLost(Obj); });
    connect(Obj, &TCvComPortObj::NoViewMessage, this, &TCvDeviceManager::NoViewMessage);
    return Obj;
}

QList<TSerialDeviceInfo> TCvDeviceManager::Sync(const QList<TSerialDeviceInfo>& Extra)
{
    const QList<TSerialDeviceInfo> found = EnumClassDevices(FSysRoot, FVirtualPorts.get(), FDevRoot) + Extra;
    FPresent = found;
    // Before new port objects are made: a device back under another name is its waiting port's.
    FollowWaitingDevices(found);
    for (const TSerialDeviceInfo& d : found) {
        if (ByFullName(d.FullName)) continue;
        auto* obj = Adopt(d.FullName, new TCvComPortObj(nullptr, d.FullName));
        emit PortCreated(obj);
        obj->LoadSettings(stIniFile, SettingsPathOf(d.FullName));
        // The device found is the one to open, whatever port an old settings file names.
        obj->SetPort(PortNameOf(d));
    }
    return found;
}

TSerialDeviceInfo TCvDeviceManager::Present(const QString& FullName) const
{
    for (const TSerialDeviceInfo& d : FPresent)
        if (d.FullName.compare(FullName, Qt::CaseInsensitive) == 0) return d;
    return {};
}

TSerialDeviceInfo TCvDeviceManager::Identity(const TCvComPortObj* Obj) const
{
    return FIdentity.value(Obj);
}

void TCvDeviceManager::Rename(TCvComPortObj* Obj, const QString& To)
{
    const QString from = Obj->FComportFullName;
    for (TCvComPortListEntry& e : FList)
        if (e.Obj == Obj) e.Name = To;
    for (QString& w : FWaiting)
        if (w.compare(from, Qt::CaseInsensitive) == 0) w = To;
    Obj->FComportFullName = To;
    emit PortRenamed(Obj, from, To);
}

void TCvDeviceManager::FollowWaitingDevices(const QList<TSerialDeviceInfo>& Found)
{
    const QStringList waiting = FWaiting;
    for (const QString& name : waiting) {
        TCvComPortObj* obj = ByFullName(name);
        if (!obj || obj->Connected() || !obj->Reconnect()) continue;
        const TSerialDeviceInfo id = FIdentity.value(obj);
        // Only what tells one adapter from another can follow it to another name.
        if (!HasIdentity(id)) continue;
        const auto back = std::find_if(Found.cbegin(), Found.cend(),
                                       [&id](const TSerialDeviceInfo& d) { return SameDevice(id, d); });
        if (back == Found.cend() || back->FullName.compare(name, Qt::CaseInsensitive) == 0) continue;
        // The name it comes back under may belong to a port object of an earlier device there;
        // that one, when idle, takes the name this one leaves.
        TCvComPortObj* other = ByFullName(back->FullName);
        if (other && (other->Connected() || FWaiting.contains(back->FullName, Qt::CaseInsensitive))) continue;
        Rename(obj, back->FullName);
        if (other) Rename(other, name);
        obj->SetPort(PortNameOf(*back));
        obj->Log(Msg(u"Device %1 came back as %2."_s).arg(name, back->FullName));
    }
}

bool TCvDeviceManager::Open(TCvComPortObj* Obj)
{
    QString hint, cause;
    if (!Obj->TryOpen(&hint, &cause)) {
        Obj->Log(Msg(u"Can not open  %1"_s).arg(Obj->FComportFullName));
        if (!cause.isEmpty()) Obj->Log(cause);
        if (!hint.isEmpty()) Obj->Log(Msg(hint));
        return false;
    }
    Obj->Log(Msg(u"Device %1 was opened."_s).arg(Obj->FComportFullName));
    // What it waits for, should its device go away.
    FIdentity.insert(Obj, Present(Obj->FComportFullName));
    FToldOther.remove(Obj);
    if (Obj->StopBits() == sbOne5StopBits)
        Obj->Log(Msg(u"Linux serial ports have no 1.5 stop bits; 2 stop bits are used."_s));
    StopWaiting(Obj->FComportFullName);
    Obj->Log(QString());
    Obj->SaveLog(LogPathOf(Obj));
    emit PortOpened(Obj);
    return true;
}

QStringList TCvDeviceManager::SaveAndCloseAll()
{
    QStringList failed;
    for (const TCvComPortListEntry& e : std::as_const(FList)) {
        if (!e.Obj) continue;
        if (e.Obj->Connected()) {
            if (!e.Obj->SaveLog(LogPathOf(e.Obj))) failed << e.Obj->LastLogSaveError();
            // Closed here rather than by the user: its line settings are kept as closing keeps them.
            e.Obj->StoreSettings(stIniFile, SettingsPathOf(e.Obj->FComportFullName));
        }
        e.Obj->Close();
    }
    FWaiting.clear();
    return failed;
}

void TCvDeviceManager::SaveOpenLogs()
{
    for (const TCvComPortListEntry& e : std::as_const(FList))
        if (e.Obj && e.Obj->Connected()) e.Obj->SaveLog(LogPathOf(e.Obj));
}

// ---- waiting for a device ----

bool TCvDeviceManager::HoldForReconnect(TCvComPortObj* Obj)
{
    if (!Obj || !Obj->Reconnect()) return false;
    const QString name = Obj->FComportFullName;
    if (Obj->Connected()) {
        Obj->Close();
        Obj->Log(Msg(u"Device %1 was removed."_s).arg(name));
    }
    // Its page (or its hold on the main view) stays, so the log goes on where it was.
    if (!FWaiting.contains(name, Qt::CaseInsensitive)) FWaiting << name;
    Obj->Log(Msg(u"Waiting for device %1 to come back; it will be reopened then."_s).arg(name));
    Obj->SaveLog(LogPathOf(Obj));
    Obj->StoreSettings(stIniFile, SettingsPathOf(name));
    return true;
}

bool TCvDeviceManager::StopWaiting(const QString& Name)
{
    for (qsizetype i = 0; i < FWaiting.size(); ++i)
        if (FWaiting.at(i).compare(Name, Qt::CaseInsensitive) == 0) {
            FWaiting.removeAt(i);
            return true;
        }
    return false;
}

bool TCvDeviceManager::ReopenWaiting(const std::function<bool(const QString&)>& IsListed)
{
    const QStringList waiting = FWaiting;
    bool changed = false;
    for (const QString& name : waiting) {
        TCvComPortObj* obj = ByFullName(name);
        if (!obj || obj->Connected() || !obj->Reconnect()) {
            // Opened by hand meanwhile, or no longer wanted.
            StopWaiting(name);
            continue;
        }
        // Back under the same full name, not merely some port on the same node.
        if (!IsListed(name)) continue;
        // And the same adapter, not another of its model.
        const TSerialDeviceInfo id = FIdentity.value(obj);
        const TSerialDeviceInfo now = Present(name);
        if (HasIdentity(id) && !SameDevice(id, now)) {
            const QString seen = now.SerialNumber + u'|' + now.UsbPath;
            if (FToldOther.value(obj) != seen) {
                FToldOther.insert(obj, seen);
                obj->Log(
                    Msg(u"Device %1 is listed again, but it is another adapter (%2); it is not reopened."_s)
                        .arg(name, SerialNumberText(now)));
            }
            continue;
        }
        QString hint, cause;
        if (!obj->TryOpen(&hint, &cause)) {
            obj->Log(Msg(u"Device %1 is back but can not be opened yet; still waiting."_s).arg(name) +
                     (cause.isEmpty() ? QString() : u' ' + cause) +
                     (hint.isEmpty() ? QString() : u' ' + Msg(hint)));
            continue;
        }
        StopWaiting(name);
        FToldOther.remove(obj);
        changed = true;
        obj->Log(Msg(u"Device %1 is back; reopened."_s).arg(name));
        obj->SaveLog(LogPathOf(obj));
        emit PortOpened(obj);
    }
    return changed;
}

// ---- hot-plug and virtual ports ----

void TCvDeviceManager::Start(const QString& SettingsFile)
{
    if (!FVirtualPorts) {
        FVirtualPorts = std::make_unique<TVirtualPorts>(SettingsFile);
        FVirtualPorts->Load();
    }
    if (FMonitor) return;
    FMonitor = std::make_unique<TDeviceMonitor>(FSysRoot, FVirtualPorts.get());
    connect(FMonitor.get(), &TDeviceMonitor::DeviceArrived, this, &TCvDeviceManager::DeviceArrived);
    connect(FMonitor.get(), &TDeviceMonitor::DeviceRemoved, this, &TCvDeviceManager::DeviceRemoved);
    // udev speaks of the machine's own sysfs; any other root is rescanned.
    if (FSysRoot == u"/sys"_s) FMonitor->Start();
    else FMonitor->Start(nullptr);
}

QStringList TCvDeviceManager::VirtualPortPaths() const
{
    return FVirtualPorts ? FVirtualPorts->Paths() : QStringList();
}

bool TCvDeviceManager::AddVirtualPort(const QString& Path)
{
    if (!FVirtualPorts) return false;
    using R = TVirtualPorts::TAddResult;
    const R r = FVirtualPorts->Add(Path);
    QString why;
    switch (r) {
    case R::Added:
    case R::NotSaved:
        emit Message(Msg(r == R::NotSaved
                             ? u"Virtual port %1 was added (the settings file could not be written)"_s
                             : u"Virtual port %1 was added"_s)
                         .arg(TVirtualPorts::NormalizedPath(Path)));
        if (FMonitor) FMonitor->Resync();
        emit DevicesChanged();
        return true;
    case R::AlreadyListed: why = Msg(u"it is listed already"_s); break;
    case R::NotAbsolute: why = Msg(u"the path must be absolute"_s); break;
    case R::NotFound: why = Msg(u"no such file"_s); break;
    case R::NotACharDevice: why = Msg(u"it is not a character device"_s); break;
    case R::Unnameable: why = Msg(u"its name cannot be listed"_s); break;
    case R::Invalid: why = Msg(u"the path is not valid"_s); break;
    }
    emit Message(Msg(u"Can not add virtual port %1: %2"_s).arg(Path, why));
    return false;
}

bool TCvDeviceManager::RemoveVirtualPort(const QString& Path)
{
    if (!FVirtualPorts) return false;
    const auto r = FVirtualPorts->Remove(Path);
    if (r == TVirtualPorts::TRemoveResult::NotListed) {
        emit Message(Msg(u"Can not remove virtual port %1: it is not listed"_s).arg(Path));
        return false;
    }
    emit Message(Msg(u"Virtual port %1 was removed"_s).arg(TVirtualPorts::NormalizedPath(Path)));
    if (FMonitor) FMonitor->Resync();
    emit DevicesChanged();
    return true;
}

// ---- HID ----

TCvDeviceManager::THidBackendFactory TCvDeviceManager::SetHidBackendFactory(THidBackendFactory Factory)
{
    THidBackendFactory old = BackendFactory();
    BackendFactory() = std::move(Factory);
    return old;
}

void TCvDeviceManager::CreateHidController()
{
    if (FHid) return;
    FHid = BackendFactory() ? new TJvHidDeviceController(BackendFactory()(), this)
                            : new TJvHidDeviceController(this);
    FHid->SetOnDeviceChange([this](TJvHidDeviceController* Sender) {
        const QStringList before = FHidNames;
        FHidNames.clear();
        Sender->Enumerate();
        if (FHidNames != before) emit HidDevicesChanged();
    });
    FHid->SetOnEnumerate([this](TJvHidDevice* d, int) {
        FHidNames.append(d->Name());
        return true;
    });
    FHid->SetOnDeviceData([this](TJvHidDevice*, quint8, const quint8* Data, quint16 Size) {
        emit Message(HidReportText(Data, Size));
    });
    // A device that stopped answering is said once in the main log, not retried forever.
    connect(FHid, &TJvHidDeviceController::DeviceReadStopped, this,
            [this](TJvHidDevice*, const QString& Text) { emit Message(Text); });
    // The controller has closed it already; the device list follows with the change event.
    connect(FHid, &TJvHidDeviceController::DeviceUnplugged, this, [this](TJvHidDevice* HidDev) {
        emit Message(Msg(u"HID device %1 was unplugged and closed."_s).arg(HidDev->Name()));
    });
}

TJvHidDevice* TCvDeviceManager::CheckHID(const QString& Name) const
{
    if (!FHid || !Name.contains(u"PID"_s)) return nullptr;
    for (TJvHidDevice* d : FHid->PluggedDevices())
        if (d->Name().compare(Name.trimmed(), Qt::CaseInsensitive) == 0) return d;
    return nullptr;
}

bool TCvDeviceManager::HidCheckOut(TJvHidDevice* HidDev)
{
    if (HidDev->CheckOut()) return true;
    if (!HidDev->IsCheckedOut())
        emit Message(
            Msg(u"Can not open HID device %1: %2"_s).arg(HidDev->Name(), HidOpenReason(HidDev->OpenError())));
    return HidDev->IsCheckedOut();
}

bool TCvDeviceManager::HIDWrite(TJvHidDevice* HidDev, const std::array<quint8, 256>& Buffer)
{
    return HidDev && HidDev->WriteOutputReport(Buffer.data(), int(Buffer.size()));
}

void TCvDeviceManager::HidBlockSend(TJvHidDevice* HidDev, const QString& Text)
{
    const THidBlockSend send = HidPrepareBlockSend(Text);
    if (!send.Error.isEmpty()) {
        emit Message(send.Error);
        return;
    }
    // The echo says what went to the device: nothing is echoed that was not written.
    if (!HIDWrite(HidDev, send.Buffer)) {
        const QString name = HidDev ? HidDev->Name() : QString();
        if (!HidDev || !HidDev->IsCheckedOut())
            emit Message(Msg(u"Can not write to HID device %1: it is not open."_s).arg(name));
        else if (HidDev->OutputReportLength() <= 0)
            emit Message(Msg(u"Can not write to HID device %1: it has no output report."_s).arg(name));
        else emit Message(Msg(u"Can not write to HID device %1: the report was not written."_s).arg(name));
        return;
    }
    // A report shorter than the text carries only its first bytes: the echo shows those.
    const int length = HidDev->OutputReportLength();
    const int decoded = int((send.Echo.size() - 2) / 3);
    if (decoded > length) {
        emit Message(send.Echo.left(2 + 3 * length));
        emit Message(Msg(u"HID send: the output report holds %1 bytes; %2 more were not sent."_s)
                         .arg(QString::number(length), QString::number(decoded - length)));
        return;
    }
    emit Message(send.Echo);
    if (!send.CutNotice.isEmpty()) emit Message(send.CutNotice);
}
