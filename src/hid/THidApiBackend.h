#pragma once

#include "THidBackend.h"

#include <memory>

class QSocketNotifier;
class QTimer;
struct udev;
struct udev_monitor;

// The system's HID interfaces through hidapi's hidraw library. Changes come from a
// udev monitor on the "hidraw" subsystem; where no udev daemon sends events (containers,
// minimal systems) the interfaces are re-scanned once a second instead.
class THidApiBackend : public THidBackend {
public:
    static constexpr int kRescanIntervalMs = 1000;

    THidApiBackend();
    ~THidApiBackend() override;

    THidApiBackend(const THidApiBackend&) = delete;
    THidApiBackend& operator=(const THidApiBackend&) = delete;

    QList<THidDeviceInfo> Enumerate() override;
    QByteArray ReportDescriptor(const QByteArray& path) override;
    THidHandle* Open(const QByteArray& path, int* errorCode) override;
    void Close(THidHandle* handle) override;
    int Read(THidHandle* handle, quint8* buffer, int size, int timeoutMs, QString* error) override;
    int Write(THidHandle* handle, const quint8* data, int size) override;
    void WatchChanges(std::function<void()> onChange) override;

    // True once WatchChanges found a udev daemon to listen to.
    bool UsesUdevEvents() const { return FMonitor != nullptr; }

private:
    bool StartUdevMonitor();
    void DrainUdevMonitor();

    std::function<void()> FOnChange;
    struct udev* FUdev = nullptr;
    struct udev_monitor* FMonitor = nullptr;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::unique_ptr<QTimer> FRescanTimer;
};
