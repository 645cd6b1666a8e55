#pragma once

// Hot-plug of serial ports: reports ports that arrive and leave, hardware and virtual
// alike, so that the device list is rebuilt and a port object whose device left is
// closed.

#include "TDeviceEventSource.h"
#include "cvPcDeviceMgt.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class TVirtualPorts;

class TDeviceMonitor : public QObject {
    Q_OBJECT

public:
    static constexpr int DefaultRescanMs = 1000;

    // virtualPorts, when given, must outlive the monitor; it is read at every rescan.
    explicit TDeviceMonitor(const QString& sysRoot = QStringLiteral("/sys"),
                            const TVirtualPorts* virtualPorts = nullptr, QObject* parent = nullptr);
    ~TDeviceMonitor() override;

    // Takes the ports present now as known (nothing is reported for them), then
    // listens to the source for hardware ports; with no source, or one that cannot
    // start, hardware ports are rescanned periodically instead. Virtual ports are
    // always rescanned: nothing announces that a pty or a socat link went away.
    void Start(std::unique_ptr<TDeviceEventSource> source);
    // Start with the udev source.
    void Start();
    void Stop();

    bool IsRunning() const { return FRunning; }
    bool RescansHardware() const { return FRunning && !FSourceActive; }
    void SetRescanInterval(int ms);
    int RescanInterval() const { return FTimer.interval(); }
    // Hardware ports, then virtual ports, as last seen.
    QList<TSerialDeviceInfo> KnownDevices() const { return FHardware + FVirtual; }

public slots:
    // Compares every port present now with the known ones and reports the differences.
    void Rescan();
    // Takes the ports present now as known without reporting, for changes the caller
    // made itself (a virtual port the user added or removed).
    void Resync();

signals:
    // portName: the kernel name ("ttyUSB0") or the path of a virtual port, which is
    // the port name of its full name whenever it has one. A port whose full name
    // or serial number changed under the same name (another adapter on ttyUSB0) leaves and
    // arrives.
    void DeviceArrived(const QString& portName);
    void DeviceRemoved(const QString& portName);

private:
    struct TChange {
        bool arrived;
        QString node;
    };

    void onSourceEvent(TDeviceEventSource::TAction action, const QString& kernelName);
    void onTimer();
    QList<TSerialDeviceInfo> presentVirtual() const;
    static void reconcile(QList<TSerialDeviceInfo>& known, const QList<TSerialDeviceInfo>& present,
                          QList<TChange>& changes);
    void report(const QList<TChange>& changes);

    QString FSysRoot;
    const TVirtualPorts* FVirtualPorts;
    std::unique_ptr<TDeviceEventSource> FSource;
    bool FSourceActive = false;
    bool FRunning = false;
    QTimer FTimer;
    QList<TSerialDeviceInfo> FHardware;
    QList<TSerialDeviceInfo> FVirtual;
};
