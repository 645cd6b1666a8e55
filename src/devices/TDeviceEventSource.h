#pragma once

// Where the hot-plug monitor learns that a tty came or went. The udev source is the
// real one; tests script their own.

#include <QObject>
#include <QString>

class TDeviceEventSource : public QObject {
    Q_OBJECT

public:
    enum class TAction { Add, Remove };
    Q_ENUM(TAction)

    using QObject::QObject;
    ~TDeviceEventSource() override;

    // False when no events can be had here; the monitor then rescans instead.
    virtual bool Start() = 0;
    virtual void Stop() = 0;

signals:
    // kernelName: the tty's name under /sys/class/tty ("ttyUSB0").
    void DeviceEvent(TDeviceEventSource::TAction action, const QString& kernelName);
};
