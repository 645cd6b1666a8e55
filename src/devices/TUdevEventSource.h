#pragma once

#include "TDeviceEventSource.h"

#include <QString>

#include <memory>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// A libudev monitor on the "tty" subsystem, read on the thread that starts it.
class TUdevEventSource final : public TDeviceEventSource {
    Q_OBJECT

public:
    // runDir: where udevd keeps its control socket ("/run").
    explicit TUdevEventSource(const QString& runDir = QStringLiteral("/run"), QObject* parent = nullptr);
    ~TUdevEventSource() override;

    // False without a running udevd (containers, chroots): libudev would hand out a
    // monitor that never reports anything.
    bool Start() override;
    void Stop() override;

private:
    void readEvents();

    QString FRunDir;
    udev* FUdev = nullptr;
    udev_monitor* FMonitor = nullptr;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
