#include "THidReadWorker.h"

#include "THidBackend.h"
#include "TJvHidDeviceController.h"

#include <QMetaObject>

#include <algorithm>
#include <csignal>
#include <vector>

#include <pthread.h>

struct THidReadWorker::TMailbox {
    TJvHidDeviceController* Controller = nullptr;
    std::mutex Mutex;
    std::condition_variable Taken;
    QByteArray Pending;
    bool HasPending = false;
    bool StopRequested = false;
    // Null once the worker is stopped: a notice still in the GUI queue then finds
    // no device to talk about.
    TJvHidDevice* Device = nullptr;
};

THidReadWorker::THidReadWorker(TJvHidDeviceController* controller, TJvHidDevice* device, THidBackend* backend,
                               THidHandle* handle, int reportLength, bool numberedReports, int pollIntervalMs)
    : FBox(std::make_shared<TMailbox>()), FBackend(backend), FHandle(handle), FReportLength(reportLength),
      FNumberedReports(numberedReports), FPollIntervalMs(pollIntervalMs)
{
    FBox->Controller = controller;
    FBox->Device = device;
    FThread = std::thread([this] { Execute(); });
}

THidReadWorker::~THidReadWorker()
{
    Stop(false);
}

void THidReadWorker::Stop(bool deliverLeftover)
{
    {
        std::lock_guard lock(FBox->Mutex);
        FBox->StopRequested = true;
    }
    FBox->Taken.notify_all();
    if (FThread.joinable()) FThread.join();
    if (deliverLeftover) Deliver(FBox);
    std::lock_guard lock(FBox->Mutex);
    FBox->HasPending = false;
    FBox->Pending.clear();
    FBox->Device = nullptr;
}

void THidReadWorker::Execute()
{
    // Process signals are left to other threads: an interrupted wait would end the
    // worker as if the device had failed. Faults still reach this thread.
    sigset_t mask;
    sigfillset(&mask);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP}) sigdelset(&mask, fault);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);

    // Without report ids the system leaves the id byte out; put a 0 in its place so
    // byte 0 is always the report id.
    const int offset = FNumberedReports ? 0 : 1;
    const int readSize = FReportLength - offset;
    std::vector<quint8> buffer(static_cast<size_t>(FReportLength));

    for (;;) {
        {
            std::lock_guard lock(FBox->Mutex);
            if (FBox->StopRequested) break;
        }
        std::fill(buffer.begin(), buffer.end(), quint8(0));
        QString error;
        const int n = FBackend->Read(FHandle, buffer.data() + offset, readSize, FPollIntervalMs, &error);
        if (n < 0) {
            FRunning = false;
            // Queued: the GUI thread owns the device and the controller's handlers.
            QMetaObject::invokeMethod(
                FBox->Controller,
                [box = FBox, error] {
                    TJvHidDevice* device = nullptr;
                    {
                        std::lock_guard lock(box->Mutex);
                        device = box->Device;
                    }
                    if (device != nullptr) box->Controller->FireReadStopped(device, error);
                },
                Qt::QueuedConnection);
            return;
        }
        if (n == 0) continue;
        const int length = std::min(n, readSize) + offset;
        if (!HandOver(QByteArray(reinterpret_cast<const char*>(buffer.data()), length))) break;
    }
    FRunning = false;
}

bool THidReadWorker::HandOver(QByteArray report)
{
    {
        // Kept even when a stop came meanwhile: Stop shows what was read.
        std::lock_guard lock(FBox->Mutex);
        FBox->Pending = std::move(report);
        FBox->HasPending = true;
        if (FBox->StopRequested) return false;
    }
    // Queued: the data event runs on the GUI thread; the worker waits for it below
    // rather than blocking inside the call, so a check-in waiting for this worker
    // can still take the report itself.
    QMetaObject::invokeMethod(
        FBox->Controller, [box = FBox] { Deliver(box); }, Qt::QueuedConnection);
    std::unique_lock lock(FBox->Mutex);
    FBox->Taken.wait(lock, [this] { return !FBox->HasPending || FBox->StopRequested; });
    return !FBox->StopRequested;
}

void THidReadWorker::Deliver(const std::shared_ptr<TMailbox>& box)
{
    QByteArray report;
    TJvHidDevice* device = nullptr;
    {
        std::lock_guard lock(box->Mutex);
        if (!box->HasPending) return;
        report = std::move(box->Pending);
        box->Pending = QByteArray();
        box->HasPending = false;
        device = box->Device;
    }
    box->Taken.notify_all();
    if (device != nullptr) box->Controller->FireDeviceData(device, report);
}
