#pragma once

#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

// A worker thread that sleeps until it is woken, then runs passes one at a time until it
// has nothing left to do. Passes never overlap a stop: WaitIdleLocked blocks until the
// pass in progress has ended. A subclass says when a pass is due and what a pass does,
// starts the thread at the end of its constructor (Start) and ends it first thing in its
// destructor (Terminate), since the thread calls its virtual functions.
// A pass that throws does not end the thread: PassFailed hears what was thrown, and the
// worker goes on with the next pass.
class TSleepingWorker {
public:
    TSleepingWorker() = default;
    virtual ~TSleepingWorker();

    TSleepingWorker(const TSleepingWorker&) = delete;
    TSleepingWorker& operator=(const TSleepingWorker&) = delete;

    // Ends the worker and waits for it; a pass in progress finishes first.
    void Terminate();

protected:
    void Start();

    // With FMutex held: whether a pass is due now.
    virtual bool PassDueLocked() const = 0;
    // With FMutex held, just before a pass begins.
    virtual void BeginPassLocked() {}
    // One pass, without FMutex.
    virtual void Pass() = 0;
    // With FMutex held, just after a pass has ended.
    virtual void EndPassLocked() {}
    // After the terminate request is set, before the thread is joined: ends waits that are
    // not on FWake.
    virtual void OnTerminate() {}
    // On the worker's thread, without FMutex, after a pass threw: what it threw and how many
    // passes in a row have thrown (1 for the first). The default writes a warning.
    virtual void PassFailed(const QString& what, int inARow);

    // Wakes the thread to look at PassDueLocked again.
    void Wake() { FWake.notify_all(); }
    // With FMutex held (lk): waits until no pass runs.
    void WaitIdleLocked(std::unique_lock<std::mutex>& lk);

    // Set before Start: how many steps of niceness the thread runs below its creator.
    int FNiceSteps = 0;
    // What the port objects' workers use: the window first when both want the processor.
    static constexpr int kNiceSteps = 5;

    mutable std::mutex FMutex;
    // Waited on between passes; a pass may wait on it too (with FMutex) to sleep until woken.
    std::condition_variable FWake;
    bool FTerminated = false; // under FMutex
    bool FInPass = false;     // under FMutex

private:
    void Execute();

    std::condition_variable FIdle;
    std::thread FThread;
    int FFailedInARow = 0; // worker thread only
};
