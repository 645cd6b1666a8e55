#include "TUdevEventSource.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <cstring>

#include <libudev.h>

TUdevEventSource::TUdevEventSource(const QString& runDir, QObject* parent)
    : TDeviceEventSource(parent), FRunDir(runDir)
{}

TUdevEventSource::~TUdevEventSource()
{
    Stop();
}

bool TUdevEventSource::Start()
{
    if (FMonitor != nullptr) return true;
    // libudev itself checks this socket and silently disables the monitor without it.
    if (!QFileInfo::exists(FRunDir + QStringLiteral("/udev/control"))) return false;

    FUdev = udev_new();
    if (FUdev != nullptr) FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
    const bool ok = FMonitor != nullptr &&
                    udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "tty", nullptr) >= 0 &&
                    udev_monitor_enable_receiving(FMonitor) >= 0 && udev_monitor_get_fd(FMonitor) >= 0;
    if (!ok) {
        Stop();
        return false;
    }
    FNotifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(FMonitor), QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &TUdevEventSource::readEvents);
    return true;
}

void TUdevEventSource::Stop()
{
    FNotifier.reset();
    if (FMonitor != nullptr) udev_monitor_unref(FMonitor);
    FMonitor = nullptr;
    if (FUdev != nullptr) udev_unref(FUdev);
    FUdev = nullptr;
}

void TUdevEventSource::readEvents()
{
    // The socket is non-blocking: take everything queued, then wait for the next wake-up.
    while (FMonitor != nullptr) {
        udev_device* device = udev_monitor_receive_device(FMonitor);
        if (device == nullptr) return;
        const char* action = udev_device_get_action(device);
        const char* name = udev_device_get_sysname(device);
        if (action != nullptr && name != nullptr) {
            const QString kernelName = QString::fromUtf8(name);
            if (std::strcmp(action, "add") == 0) emit DeviceEvent(TAction::Add, kernelName);
            else if (std::strcmp(action, "remove") == 0) emit DeviceEvent(TAction::Remove, kernelName);
        }
        udev_device_unref(device);
    }
}
