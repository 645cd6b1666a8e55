#pragma once

#include "THidBackend.h"

#include <QObject>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// A HID system played from a script, for tests: devices plugged in and out, input
// reports to deliver, read failures; output reports are recorded. Like the real system
// it announces plugging through the event loop, not at once. Script calls come from
// the GUI thread; reads may run on any thread.
class THidScriptedBackend : public THidBackend {
public:
    struct TDevice {
        QByteArray Path;
        QString ProductString;
        quint16 VendorID = 0;
        quint16 ProductID = 0;
        QByteArray Descriptor;
        // False: open fails with OpenError, as for a node only root may open.
        bool Openable = true;
        int OpenError = EACCES;
    };

    THidScriptedBackend();
    ~THidScriptedBackend() override;

    // A report descriptor of one vendor-defined collection with one input and one
    // output report of the given data sizes (0: none), numbered when reportID > 0.
    static QByteArray Descriptor(int inputDataBytes, int outputDataBytes, quint8 reportID = 0);

    // Listed from the next scan; a change notice follows through the event loop.
    void Plug(const TDevice& device);
    // Reads on its open handles fail from now on; a change notice follows.
    void Unplug(const QByteArray& path);
    // The next read on the device returns this report (as the system hands it on:
    // the report id leads only for numbered reports).
    void QueueReport(const QByteArray& path, const QByteArray& report);
    // The next read on the device fails with this error.
    void FailNextRead(const QByteArray& path, const QString& error);

    // Output reports written to the device so far.
    QList<QByteArray> Written(const QByteArray& path) const;
    // Handles of the device still open (the current plug-in only).
    int OpenHandles(const QByteArray& path) const;
    // Handles still open over all devices, unplugged ones included.
    int OpenHandlesTotal() const;
    // Reports queued and not yet read.
    int QueuedReports(const QByteArray& path) const;

    QList<THidDeviceInfo> Enumerate() override;
    QByteArray ReportDescriptor(const QByteArray& path) override;
    THidHandle* Open(const QByteArray& path, int* errorCode) override;
    void Close(THidHandle* handle) override;
    int Read(THidHandle* handle, quint8* buffer, int size, int timeoutMs, QString* error) override;
    int Write(THidHandle* handle, const quint8* data, int size) override;
    void WatchChanges(std::function<void()> onChange) override;

private:
    struct TState {
        TDevice Device;
        bool Plugged = true;
        std::deque<QByteArray> Reports;
        QString FailWith;
        QList<QByteArray> Writes;
        int OpenHandles = 0;
    };
    struct THandle;

    std::shared_ptr<TState> Find(const QByteArray& path) const; // FMutex held
    void NotifyLater();

    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<std::shared_ptr<TState>> FStates; // plugged in, in plug order
    int FOpenHandlesTotal = 0;
    std::function<void()> FOnChange;
    QObject FContext; // carries the queued change notices
};
