#include "TDeviceMonitor.h"

#include "TUdevEventSource.h"
#include "TVirtualPorts.h"

#include <QPointer>

#include <algorithm>

namespace {

qsizetype indexOfNode(const QList<TSerialDeviceInfo>& devices, const QString& node)
{
    for (qsizetype i = 0; i < devices.size(); ++i)
        if (devices.at(i).Node == node) return i;
    return -1;
}

// Another adapter of the same model on the same name is another device.
bool isSame(const TSerialDeviceInfo& a, const TSerialDeviceInfo& b)
{
    return a.Node == b.Node && a.FullName == b.FullName && a.SerialNumber == b.SerialNumber;
}

bool containsSame(const QList<TSerialDeviceInfo>& devices, const TSerialDeviceInfo& device)
{
    return std::any_of(devices.cbegin(), devices.cend(),
                       [&](const TSerialDeviceInfo& d) { return isSame(d, device); });
}

} // namespace

TDeviceMonitor::TDeviceMonitor(const QString& sysRoot, const TVirtualPorts* virtualPorts, QObject* parent)
    : QObject(parent), FSysRoot(sysRoot), FVirtualPorts(virtualPorts)
{
    FTimer.setInterval(DefaultRescanMs);
    connect(&FTimer, &QTimer::timeout, this, &TDeviceMonitor::onTimer);
}

TDeviceMonitor::~TDeviceMonitor()
{
    Stop();
}

void TDeviceMonitor::Start(std::unique_ptr<TDeviceEventSource> source)
{
    Stop();
    FSource = std::move(source);
    FSourceActive = FSource != nullptr && FSource->Start();
    if (FSourceActive)
        connect(FSource.get(), &TDeviceEventSource::DeviceEvent, this, &TDeviceMonitor::onSourceEvent);
    else FSource.reset();
    // Listening first: a port that comes meanwhile is reported, not missed.
    Resync();
    FRunning = true;
    if (!FSourceActive || FVirtualPorts != nullptr) FTimer.start();
}

void TDeviceMonitor::Start()
{
    Start(std::make_unique<TUdevEventSource>());
}

void TDeviceMonitor::Stop()
{
    FTimer.stop();
    if (FSource != nullptr) {
        FSource->disconnect(this);
        FSource->Stop();
    }
    FSource.reset();
    FSourceActive = false;
    FRunning = false;
}

void TDeviceMonitor::SetRescanInterval(int ms)
{
    FTimer.setInterval(std::max(ms, 1));
}

QList<TSerialDeviceInfo> TDeviceMonitor::presentVirtual() const
{
    return FVirtualPorts != nullptr ? FVirtualPorts->PresentDevices() : QList<TSerialDeviceInfo>();
}

void TDeviceMonitor::Resync()
{
    FHardware = EnumClassDevices(FSysRoot);
    FVirtual = presentVirtual();
}

void TDeviceMonitor::Rescan()
{
    QList<TChange> changes;
    reconcile(FHardware, EnumClassDevices(FSysRoot), changes);
    reconcile(FVirtual, presentVirtual(), changes);
    report(changes);
}

void TDeviceMonitor::onTimer()
{
    QList<TChange> changes;
    if (!FSourceActive) reconcile(FHardware, EnumClassDevices(FSysRoot), changes);
    reconcile(FVirtual, presentVirtual(), changes);
    report(changes);
}

void TDeviceMonitor::onSourceEvent(TDeviceEventSource::TAction action, const QString& kernelName)
{
    QList<TChange> changes;
    const qsizetype known = indexOfNode(FHardware, kernelName);
    TSerialDeviceInfo device;
    // A removal is taken at its word: udev may report it before sysfs has let go of
    // the entry. An arrival is read from sysfs, which filters empty UART slots.
    const bool present =
        action == TDeviceEventSource::TAction::Add && ReadSerialDevice(FSysRoot, kernelName, &device);
    if (known >= 0 && !(present && isSame(FHardware.at(known), device))) {
        FHardware.removeAt(known);
        changes += TChange{false, kernelName};
    }
    if (present && indexOfNode(FHardware, kernelName) < 0) {
        const auto at = std::find_if(FHardware.begin(), FHardware.end(), [&](const TSerialDeviceInfo& d) {
            return NaturalLess(kernelName, d.Node);
        });
        FHardware.insert(at, device);
        changes += TChange{true, kernelName};
    }
    report(changes);
}

void TDeviceMonitor::reconcile(QList<TSerialDeviceInfo>& known, const QList<TSerialDeviceInfo>& present,
                               QList<TChange>& changes)
{
    for (const TSerialDeviceInfo& device : std::as_const(known))
        if (!containsSame(present, device)) changes += TChange{false, device.Node};
    for (const TSerialDeviceInfo& device : present)
        if (!containsSame(known, device)) changes += TChange{true, device.Node};
    known = present;
}

void TDeviceMonitor::report(const QList<TChange>& changes)
{
    // The state is already updated, so a handler may rescan, resync or stop us.
    const QPointer<TDeviceMonitor> alive(this);
    for (const TChange& change : changes) {
        if (alive.isNull()) return;
        if (change.arrived) emit DeviceArrived(change.node);
        else emit DeviceRemoved(change.node);
    }
}
