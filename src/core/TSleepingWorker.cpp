#include "TSleepingWorker.h"

#include "CvExceptions.h"

#include <QDebug>

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

TSleepingWorker::~TSleepingWorker()
{
    // The subclass has ended the thread already; this only catches one that has not started.
    Terminate();
}

void TSleepingWorker::Start()
{
    FThread = std::thread([this] { Execute(); });
}

void TSleepingWorker::Terminate()
{
    {
        std::lock_guard lk(FMutex);
        FTerminated = true;
    }
    FWake.notify_all();
    OnTerminate();
    if (FThread.joinable()) FThread.join();
}

void TSleepingWorker::WaitIdleLocked(std::unique_lock<std::mutex>& lk)
{
    FIdle.wait(lk, [this] { return !FInPass; });
}

void TSleepingWorker::Execute()
{
    if (FNiceSteps > 0) {
        // Below the GUI thread: a flood keeps the worker busy, and the window must still get
        // the processor at once when it has something to do.
        const int tid = int(::syscall(SYS_gettid));
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, id_t(tid));
        if (errno == 0) ::setpriority(PRIO_PROCESS, id_t(tid), std::min(19, nice + FNiceSteps));
    }
    for (;;) {
        {
            std::unique_lock lk(FMutex);
            FWake.wait(lk, [this] { return FTerminated || PassDueLocked(); });
            if (FTerminated) return;
            FInPass = true;
            BeginPassLocked();
        }
        // An exception must not leave the thread: that would end the whole program.
        try {
            Pass();
            FFailedInARow = 0;
        } catch (...) {
            const QString what = CurrentExceptionText();
            try {
                PassFailed(what, ++FFailedInARow);
            } catch (...) {
                qWarning("A worker could not report a failed pass: %s", qPrintable(CurrentExceptionText()));
            }
        }
        {
            std::lock_guard lk(FMutex);
            FInPass = false;
            EndPassLocked();
        }
        FIdle.notify_all();
    }
}

void TSleepingWorker::PassFailed(const QString& what, int inARow)
{
    qWarning("A worker pass failed (%d in a row): %s", inARow, qPrintable(what));
}
