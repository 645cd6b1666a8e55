#pragma once

#include "TJvHidDevice.h"

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

// Keeps the list of HID interfaces present, reports when it changes and carries the
// input reports of checked-out devices to the GUI thread. Lives on the GUI thread;
// every event below runs there.
class TJvHidDeviceController : public QObject {
    Q_OBJECT

public:
    using TDeviceChangeEvent = std::function<void(TJvHidDeviceController* Sender)>;
    // Return false to stop the enumeration.
    using TEnumerateEvent = std::function<bool(TJvHidDevice* HidDev, int Idx)>;
    using TDeviceDataEvent =
        std::function<void(TJvHidDevice* HidDev, quint8 ReportID, const quint8* Data, quint16 Size)>;

    // Over the system's HID devices (hidapi, hidraw).
    explicit TJvHidDeviceController(QObject* Owner = nullptr);
    explicit TJvHidDeviceController(std::unique_ptr<THidBackend> Backend, QObject* Owner = nullptr);
    // Stops every read worker (without showing what they still hold) and closes every device.
    ~TJvHidDeviceController() override;

    // Attaching a change event scans at once and fires it if the scan found a change.
    // Independently, one change report comes from the event loop soon after creation,
    // fired even when nothing changed.
    void SetOnDeviceChange(TDeviceChangeEvent Handler);
    void SetOnEnumerate(TEnumerateEvent Handler);
    // A worker starts only for devices checked out while a data event is attached.
    void SetOnDeviceData(TDeviceDataEvent Handler);
    bool HasDataHandler() const { return bool(FOnDeviceData); }

    // Calls the enumeration event for each plugged-in device in list order while it
    // returns true. Returns the number of calls.
    int Enumerate();
    // The plugged-in devices in list order: the first scan's in the system's order,
    // later arrivals at the end.
    QList<TJvHidDevice*> PluggedDevices() const;

    // What a change notice of the system does: scan, and fire the change event if a
    // device came or went. Ignored while a scan runs.
    void Rescan();

    THidBackend* Backend() const { return FBackend.get(); }

signals:
    // A checked-out device's read worker ended because a read failed (device error). Message
    // is a line for the log. The device stays checked out until checked in. A device found
    // unplugged when the read failed reports DeviceUnplugged instead.
    void DeviceReadStopped(TJvHidDevice* HidDev, const QString& Message);
    // A checked-out device was unplugged: it has been checked in (its handles are closed)
    // and is dropped once this turn of the event loop is over. Comes before the change event.
    void DeviceUnplugged(TJvHidDevice* HidDev);

private:
    friend class TJvHidDevice;
    friend class THidReadWorker;

    void Scan(bool reportAlways);
    // 1 when no device held has the interface's name, else the first free " #n".
    int FreeNameIndex(const THidDeviceInfo& info) const;
    // Drops a device that is gone and checked in; freed through the event loop so a
    // caller still holding it during this turn is not left with a dangling pointer.
    void Discard(TJvHidDevice* device);
    void FireDeviceData(TJvHidDevice* device, const QByteArray& report);
    void FireReadStopped(TJvHidDevice* device, const QString& error);

    std::unique_ptr<THidBackend> FBackend;
    std::vector<TJvHidDevice*> FDevices; // owned as QObject children
    TDeviceChangeEvent FOnDeviceChange;
    TEnumerateEvent FOnEnumerate;
    TDeviceDataEvent FOnDeviceData;
    bool FScanning = false;
};
