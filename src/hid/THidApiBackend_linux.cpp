#include "THidApiBackend.h"

#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

#include <hidapi/hidapi.h>
#include <libudev.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

struct THidApiHandle : THidHandle {
    explicit THidApiHandle(hid_device* device) : Device(device) {}
    hid_device* Device;
};

hid_device* deviceOf(THidHandle* handle)
{
    return static_cast<THidApiHandle*>(handle)->Device;
}

QString fromWide(const wchar_t* text)
{
    return text != nullptr ? QString::fromWCharArray(text) : QString();
}

} // namespace

THidApiBackend::THidApiBackend()
{
    // Once, up front: hidapi's own lazy start-up is not safe against a second thread.
    hid_init();
}

THidApiBackend::~THidApiBackend()
{
    FNotifier.reset();
    FRescanTimer.reset();
    if (FMonitor != nullptr) udev_monitor_unref(FMonitor);
    if (FUdev != nullptr) udev_unref(FUdev);
    // hid_exit is left out: other controllers in the process may still use hidapi.
}

QList<THidDeviceInfo> THidApiBackend::Enumerate()
{
    QList<THidDeviceInfo> list;
    hid_device_info* all = hid_enumerate(0, 0);
    for (const hid_device_info* d = all; d != nullptr; d = d->next) {
        THidDeviceInfo info;
        info.Path = QByteArray(d->path != nullptr ? d->path : "");
        info.ProductString = fromWide(d->product_string);
        info.VendorID = d->vendor_id;
        info.ProductID = d->product_id;
        if (!info.Path.isEmpty()) list.append(info);
    }
    hid_free_enumeration(all);
    return list;
}

QByteArray THidApiBackend::ReportDescriptor(const QByteArray& path)
{
    // Read from sysfs: needs no access to the device node itself, so the sizes are
    // known also for devices this user cannot open.
    static const QRegularExpression node(QStringLiteral("^/dev/(hidraw[0-9]+)$"));
    const QRegularExpressionMatch m = node.match(QString::fromLocal8Bit(path));
    if (!m.hasMatch()) return {};
    QFile file(QStringLiteral("/sys/class/hidraw/%1/device/report_descriptor").arg(m.captured(1)));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return {};
    return file.read(HID_API_MAX_REPORT_DESCRIPTOR_SIZE);
}

THidHandle* THidApiBackend::Open(const QByteArray& path, int* errorCode)
{
    // The node is tried here first: hidapi keeps no errno to say why an open failed, and
    // hidapi 0.13 crashes in hid_open_path on a node that opens but is no hidraw device.
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        int descriptorSize = 0;
        if (::ioctl(fd, HIDIOCGRDESCSIZE, &descriptorSize) < 0) error = errno == EINVAL ? ENOTTY : errno;
        ::close(fd);
    }
    hid_device* device = error == 0 ? hid_open_path(path.constData()) : nullptr;
    if (device != nullptr) return new THidApiHandle(device);
    if (errorCode != nullptr) *errorCode = error != 0 ? error : EIO;
    return nullptr;
}

void THidApiBackend::Close(THidHandle* handle)
{
    if (handle == nullptr) return;
    hid_close(deviceOf(handle));
    delete handle;
}

int THidApiBackend::Read(THidHandle* handle, quint8* buffer, int size, int timeoutMs, QString* error)
{
    const int n = hid_read_timeout(deviceOf(handle), buffer, size_t(size), timeoutMs);
    if (n < 0 && error != nullptr) *error = fromWide(hid_error(deviceOf(handle)));
    return n;
}

int THidApiBackend::Write(THidHandle* handle, const quint8* data, int size)
{
    return hid_write(deviceOf(handle), data, size_t(size));
}

void THidApiBackend::WatchChanges(std::function<void()> onChange)
{
    FOnChange = std::move(onChange);
    if (FMonitor != nullptr || FRescanTimer) return;
    if (StartUdevMonitor()) return;
    FRescanTimer = std::make_unique<QTimer>();
    FRescanTimer->setInterval(kRescanIntervalMs);
    QObject::connect(FRescanTimer.get(), &QTimer::timeout, FRescanTimer.get(), [this] {
        if (FOnChange) FOnChange();
    });
    FRescanTimer->start();
}

bool THidApiBackend::StartUdevMonitor()
{
    FUdev = udev_new();
    if (FUdev == nullptr) return false;
    // Without a running udev daemon the monitor would open but never hear anything.
    udev_queue* queue = udev_queue_new(FUdev);
    const bool active = queue != nullptr && udev_queue_get_udev_is_active(queue) > 0;
    if (queue != nullptr) udev_queue_unref(queue);
    if (active) {
        FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
        if (FMonitor != nullptr &&
            (udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "hidraw", nullptr) < 0 ||
             udev_monitor_enable_receiving(FMonitor) < 0)) {
            udev_monitor_unref(FMonitor);
            FMonitor = nullptr;
        }
    }
    if (FMonitor == nullptr) {
        udev_unref(FUdev);
        FUdev = nullptr;
        return false;
    }
    FNotifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(FMonitor), QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(),
                     [this] { DrainUdevMonitor(); });
    return true;
}

void THidApiBackend::DrainUdevMonitor()
{
    // The monitor socket does not block: take every waiting event, then scan once.
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(FMonitor)) {
        udev_device_unref(device);
        any = true;
    }
    if (any && FOnChange) FOnChange();
}
