#pragma once

#include "cvPcDeviceMgt.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class TCvComPortObj;
class TDeviceMonitor;
class THidBackend;
class TJvHidDevice;
class TJvHidDeviceController;
class TVirtualPorts;

// One entry of the list of known serial devices: full device name and its port object.
struct TCvComPortListEntry {
    QString Name;
    TCvComPortObj* Obj = nullptr;
};

// The devices of the window, without any widget: the port objects (its Qt children, one per
// serial device seen), the HID controller, the virtual ports, the hot-plug monitor and the
// ports that wait for their device to come back. It tells the window by signals; placing a
// port's log and the controls stay with the window.
class TCvDeviceManager : public QObject {
    Q_OBJECT
public:
    explicit TCvDeviceManager(QObject* parent = nullptr);
    ~TCvDeviceManager() override;

    // Where the per-device settings files and this run's log files go.
    void SetFolders(const QString& CfgDir, const QString& LogBase);
    QString SettingsPathOf(const QString& FullName) const;
    QString LogPathOf(const TCvComPortObj* Obj) const;

    // ---- port objects ----
    const QList<TCvComPortListEntry>& List() const { return FList; }
    // Case-insensitive full name; none for an empty name.
    TCvComPortObj* ByFullName(const QString& FullName) const;
    // A whole port name (COM3 does not find COM30); among entries of the same port the open one.
    TCvComPortObj* ByPort(const QString& Port) const;
    // Takes Obj as a child and lists it under Name.
    TCvComPortObj* Adopt(const QString& Name, TCvComPortObj* Obj);
    // The serial devices present, then Extra (network ports); a port object is made for each new one
    // (PortCreated, then its settings file is loaded). A port waiting for its device that is back
    // under another name takes that name first (PortRenamed).
    QList<TSerialDeviceInfo> Sync(const QList<TSerialDeviceInfo>& Extra = {});
    // What the last Sync saw under that full name; Node empty when it saw nothing.
    TSerialDeviceInfo Present(const QString& FullName) const;
    const QList<TSerialDeviceInfo>& PresentDevices() const { return FPresent; }
    // The device a port was last opened on: what it waits for when it waits.
    TSerialDeviceInfo Identity(const TCvComPortObj* Obj) const;
    // Opens the port and starts its log file; false (with the reason in its log) when it did not open.
    bool Open(TCvComPortObj* Obj);
    // Saves the log of every open port, keeps its line settings and closes it. The log files
    // that could not be written, each with its reason.
    QStringList SaveAndCloseAll();
    // The auto-save of the open ports' logs.
    void SaveOpenLogs();

    // ---- ports waiting for their device ----
    // A lost port whose reconnect option is on is closed and waits; false otherwise.
    bool HoldForReconnect(TCvComPortObj* Obj);
    bool StopWaiting(const QString& Name);
    QStringList Waiting() const { return FWaiting; }
    // Reopens the waiting ports whose name IsListed says is back, when the device listed under
    // that name is the one they wait for (by serial number or USB socket where the device
    // has them); true when one reopened.
    bool ReopenWaiting(const std::function<bool(const QString&)>& IsListed);

    // ---- hot-plug and virtual ports ----
    // Loads the virtual ports from SettingsFile and starts the monitor (udev for "/sys",
    // rescans for any other root). Once.
    void Start(const QString& SettingsFile);
    bool Started() const { return FMonitor != nullptr; }
    TDeviceMonitor* Monitor() const { return FMonitor.get(); }
    // Where serial devices are looked for: DefaultSysRoot() when the manager was made.
    QString SysRoot() const { return FSysRoot; }
    TVirtualPorts* VirtualPorts() const { return FVirtualPorts.get(); }
    QStringList VirtualPortPaths() const;
    // False, with the reason as a Message, when refused; DevicesChanged when taken.
    bool AddVirtualPort(const QString& Path);
    bool RemoveVirtualPort(const QString& Path);
    // The sysfs root of managers created from now on ("/sys"); tests hand in a fixture.
    static void SetDefaultSysRoot(const QString& Root);
    static QString DefaultSysRoot();
    // Where their device nodes and udev's by-id links are ("/dev"); tests hand in a folder
    // of links to pseudo-terminals.
    static void SetDefaultDevRoot(const QString& Root);
    static QString DefaultDevRoot();
    QString DevRoot() const { return FDevRoot; }
    // The port name a listed device is opened by.
    static QString PortNameOf(const TSerialDeviceInfo& Device);

    // ---- HID ----
    using THidBackendFactory = std::function<std::unique_ptr<THidBackend>()>;
    static THidBackendFactory SetHidBackendFactory(THidBackendFactory Factory);
    void CreateHidController();
    TJvHidDeviceController* HidController() const { return FHid; }
    // The names of the HID devices present, as the device list shows them.
    QStringList& HidNames() { return FHidNames; }
    const QStringList& HidNames() const { return FHidNames; }
    // The HID device of that list name, or none (serial devices).
    TJvHidDevice* CheckHID(const QString& Name) const;
    // Opens a HID device; one that does not open is said as a Message with the reason.
    bool HidCheckOut(TJvHidDevice* HidDev);
    // False when nothing was written (device not open, no output report, write failed).
    bool HIDWrite(TJvHidDevice* HidDev, const std::array<quint8, 256>& Buffer);
    // The block-send editor's text as one output report, its echo as a Message.
    void HidBlockSend(TJvHidDevice* HidDev, const QString& Text);

signals:
    // A line for the main log.
    void Message(const QString& Text);
    // A new port object, before its settings file is read.
    void PortCreated(TCvComPortObj* Obj);
    // The port was opened (by hand or on reconnect); its log has the open lines.
    void PortOpened(TCvComPortObj* Obj);
    // A port took another full name: its device came back under another name.
    void PortRenamed(TCvComPortObj* Obj, const QString& From, const QString& To);
    // The port closed itself: its device went away or stopped answering.
    void PortLost(TCvComPortObj* Obj);
    // A port's log line while its view is in no window (for a message box).
    void NoViewMessage(const QString& Caption, const QString& Text);
    void DeviceArrived(const QString& Port);
    void DeviceRemoved(const QString& Port);
    // The set of devices to list changed (a virtual port added or removed).
    void DevicesChanged();
    // The HID devices present changed.
    void HidDevicesChanged();

private:
    // Waiting ports whose device is in Found under another name take that name.
    void FollowWaitingDevices(const QList<TSerialDeviceInfo>& Found);
    void Rename(TCvComPortObj* Obj, const QString& To);

    QString FSysRoot;
    QString FDevRoot;
    QList<TSerialDeviceInfo> FPresent;
    QHash<const QObject*, TSerialDeviceInfo> FIdentity;
    // The other device last told about, per waiting port, so it is told once.
    QHash<const QObject*, QString> FToldOther;
    QString FCfgDir;
    QString FLogBase;
    QList<TCvComPortListEntry> FList;
    QStringList FWaiting;
    QStringList FHidNames;
    std::unique_ptr<TVirtualPorts> FVirtualPorts;
    // Reads FVirtualPorts: declared after it, so that it goes first.
    std::unique_ptr<TDeviceMonitor> FMonitor;
    TJvHidDeviceController* FHid = nullptr;
};
