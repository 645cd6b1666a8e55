#include "TJvHidDeviceController.h"

#include "CvHidText.h"
#include "CvMessages.h"
#include "THidApiBackend.h"

#include <QTimer>

#include <algorithm>

namespace {
bool sameInterface(const TJvHidDevice* device, const THidDeviceInfo& info)
{
    return device->DevicePath() == info.Path && device->VendorID() == info.VendorID &&
           device->ProductID() == info.ProductID;
}
} // namespace

TJvHidDeviceController::TJvHidDeviceController(QObject* Owner)
    : TJvHidDeviceController(std::make_unique<THidApiBackend>(), Owner)
{}

TJvHidDeviceController::TJvHidDeviceController(std::unique_ptr<THidBackend> Backend, QObject* Owner)
    : QObject(Owner), FBackend(std::move(Backend))
{
    FBackend->WatchChanges([this] { Rescan(); });
    QTimer::singleShot(0, this, [this] { Scan(true); });
}

TJvHidDeviceController::~TJvHidDeviceController()
{
    // Workers and handles end here, while the backend still exists.
    // Devices already discarded hold nothing open.
    for (TJvHidDevice* device : FDevices) delete device;
    FDevices.clear();
}

void TJvHidDeviceController::SetOnDeviceChange(TDeviceChangeEvent Handler)
{
    FOnDeviceChange = std::move(Handler);
    if (FOnDeviceChange) Scan(false);
}

void TJvHidDeviceController::SetOnEnumerate(TEnumerateEvent Handler)
{
    FOnEnumerate = std::move(Handler);
}

void TJvHidDeviceController::SetOnDeviceData(TDeviceDataEvent Handler)
{
    FOnDeviceData = std::move(Handler);
}

int TJvHidDeviceController::Enumerate()
{
    if (!FOnEnumerate) return 0;
    // The handler may change the list (check a device in, rescan): walk a copy.
    const QList<TJvHidDevice*> devices = PluggedDevices();
    const TEnumerateEvent handler = FOnEnumerate;
    int calls = 0;
    for (TJvHidDevice* device : devices) {
        const bool goOn = handler(device, calls);
        ++calls;
        if (!goOn) break;
    }
    return calls;
}

QList<TJvHidDevice*> TJvHidDeviceController::PluggedDevices() const
{
    QList<TJvHidDevice*> plugged;
    for (TJvHidDevice* device : FDevices)
        if (device->IsPluggedIn()) plugged.append(device);
    return plugged;
}

void TJvHidDeviceController::Rescan()
{
    Scan(false);
}

void TJvHidDeviceController::Scan(bool reportAlways)
{
    if (FScanning) return;
    FScanning = true;
    const QList<THidDeviceInfo> present = FBackend->Enumerate();
    bool changed = false;
    std::vector<TJvHidDevice*> unpluggedOpen;

    for (TJvHidDevice* device : std::vector<TJvHidDevice*>(FDevices)) {
        if (!device->IsPluggedIn()) continue;
        const bool stillThere =
            std::any_of(present.begin(), present.end(),
                        [device](const THidDeviceInfo& info) { return sameInterface(device, info); });
        if (stillThere) continue;
        changed = true;
        device->FPluggedIn = false;
        // A checked-out device is checked in below: its handles must not stay open on a
        // node that is gone.
        if (device->IsCheckedOut()) unpluggedOpen.push_back(device);
        else Discard(device);
    }
    // Before new devices are named: a device plugged in again (under a new node) then
    // comes back under its own name, not as a second one.
    for (TJvHidDevice* device : unpluggedOpen) {
        // The data event run by an earlier check-in may have checked it in already.
        if (std::find(FDevices.begin(), FDevices.end(), device) == FDevices.end()) continue;
        device->CheckIn();
        emit DeviceUnplugged(device);
    }

    for (const THidDeviceInfo& info : present) {
        const bool known = std::any_of(FDevices.begin(), FDevices.end(), [&info](const TJvHidDevice* device) {
            return device->IsPluggedIn() && sameInterface(device, info);
        });
        if (known) continue;
        changed = true;
        const THidReportLayout layout =
            THidReportLayout::FromDescriptor(FBackend->ReportDescriptor(info.Path));
        FDevices.push_back(new TJvHidDevice(this, info, layout, FreeNameIndex(info)));
    }
    FScanning = false;

    if ((changed || reportAlways) && FOnDeviceChange) {
        const TDeviceChangeEvent handler = FOnDeviceChange;
        handler(this);
    }
}

int TJvHidDeviceController::FreeNameIndex(const THidDeviceInfo& info) const
{
    const QString base =
        HidDeviceName(HidCleanProductString(info.ProductString), info.VendorID, info.ProductID);
    for (int index = 1;; ++index) {
        const QString name = index == 1 ? base : base + QStringLiteral(" #%1").arg(index);
        const bool taken = std::any_of(FDevices.begin(), FDevices.end(), [&name](const TJvHidDevice* device) {
            return device->Name() == name;
        });
        if (!taken) return index;
    }
}

void TJvHidDeviceController::Discard(TJvHidDevice* device)
{
    FDevices.erase(std::remove(FDevices.begin(), FDevices.end(), device), FDevices.end());
    device->deleteLater();
}

void TJvHidDeviceController::FireDeviceData(TJvHidDevice* device, const QByteArray& report)
{
    if (!FOnDeviceData || report.isEmpty()) return;
    const TDeviceDataEvent handler = FOnDeviceData;
    const auto* bytes = reinterpret_cast<const quint8*>(report.constData());
    handler(device, bytes[0], bytes + 1, quint16(report.size() - 1));
}

void TJvHidDeviceController::FireReadStopped(TJvHidDevice* device, const QString& error)
{
    // Most read failures are an unplugged device: look before the change notice comes, so
    // the device is closed as unplugged rather than left checked out on a dead node.
    Rescan();
    if (std::find(FDevices.begin(), FDevices.end(), device) == FDevices.end() || !device->IsCheckedOut())
        return;
    emit DeviceReadStopped(
        device, Msg(QStringLiteral("HID device %1 stopped reading: %2"))
                    .arg(device->Name(), error.isEmpty() ? Msg(QStringLiteral("read failed")) : error));
}
