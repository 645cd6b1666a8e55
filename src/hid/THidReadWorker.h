#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class THidBackend;
class THidHandle;
class TJvHidDevice;
class TJvHidDeviceController;

// The read worker of one checked-out HID device. It reads input reports with a short
// time-out so that a stop request is seen within one poll interval, hands each report
// to the GUI thread and waits until it has been shown, so reports stay in order and
// the worker never runs ahead of the display. A read failure (the device failed or was
// unplugged) ends the worker; the GUI thread hears of it once.
class THidReadWorker {
public:
    THidReadWorker(TJvHidDeviceController* controller, TJvHidDevice* device, THidBackend* backend,
                   THidHandle* handle, int reportLength, bool numberedReports, int pollIntervalMs);
    // Stops without handing on a report left in hand.
    ~THidReadWorker();

    THidReadWorker(const THidReadWorker&) = delete;
    THidReadWorker& operator=(const THidReadWorker&) = delete;

    // GUI thread: asks the worker to end and waits for it. A report the worker had
    // already handed over but the GUI thread not yet shown is shown now when
    // deliverLeftover, so nothing read is lost on closing.
    void Stop(bool deliverLeftover);
    bool Running() const { return FRunning.load(); }

private:
    struct TMailbox;

    void Execute();
    // Worker side: queue the report and wait until the GUI thread took it or a stop.
    bool HandOver(QByteArray report);
    // GUI side.
    static void Deliver(const std::shared_ptr<TMailbox>& box);

    std::shared_ptr<TMailbox> FBox;
    THidBackend* FBackend;
    THidHandle* FHandle;
    int FReportLength;
    bool FNumberedReports;
    int FPollIntervalMs;
    std::atomic<bool> FRunning{true};
    std::thread FThread;
};
