#include "CvExceptions.h"
#include "TSleepingWorker.h"

#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace Qt::StringLiterals;

// The base of the port objects' workers: passes run on the worker's own thread while work
// is due, a stop waits for the pass in progress, and a worker with work due still ends.
class TstSleepingWorker : public QObject {
    Q_OBJECT
private slots:
    void passesRunUntilNothingIsDue();
    void stopWaitsForThePassInProgress();
    void terminateEndsAWorkerWithWorkDue();
    void exceptionTextSaysWhatWasCaught();
    void passThatThrowsIsToldAndTheWorkerGoesOn();
};

namespace {

// Takes work items one per pass; a pass can be held until the test lets it go.
class TCounter : public TSleepingWorker {
public:
    explicit TCounter(bool hold = false) : FHold(hold) { Start(); }
    ~TCounter() override { Terminate(); }

    void Add(int n)
    {
        {
            std::lock_guard lk(FMutex);
            FDue += n;
        }
        Wake();
    }
    // Returns once no pass runs; true when the last pass had ended by then.
    bool Stop()
    {
        std::unique_lock lk(FMutex);
        FDue = 0;
        WaitIdleLocked(lk);
        return FLastEnded.load();
    }
    void WaitStarted()
    {
        std::unique_lock lk(FGate);
        FGateCv.wait(lk, [this] { return FStarted; });
    }
    void Release()
    {
        {
            std::lock_guard lk(FGate);
            FReleased = true;
        }
        FGateCv.notify_all();
    }

    std::atomic<int> Passes{0};
    std::atomic<bool> OnOwnThread{true};
    std::thread::id Caller = std::this_thread::get_id();

private:
    bool PassDueLocked() const override { return FDue > 0; }
    void BeginPassLocked() override { --FDue; }
    void Pass() override
    {
        FLastEnded = false;
        if (std::this_thread::get_id() == Caller) OnOwnThread = false;
        if (FHold) {
            std::unique_lock lk(FGate);
            FStarted = true;
            FGateCv.notify_all();
            FGateCv.wait(lk, [this] { return FReleased; });
        }
        ++Passes;
        FLastEnded = true;
    }

    const bool FHold;
    int FDue = 0; // under FMutex
    std::atomic<bool> FLastEnded{true};
    std::mutex FGate;
    std::condition_variable FGateCv;
    bool FStarted = false;
    bool FReleased = false;
};

} // namespace

void TstSleepingWorker::passesRunUntilNothingIsDue()
{
    TCounter w;
    w.Add(3);
    QTRY_COMPARE(w.Passes.load(), 3);
    w.Add(2);
    QTRY_COMPARE(w.Passes.load(), 5);
    QVERIFY(w.OnOwnThread.load());
}

void TstSleepingWorker::stopWaitsForThePassInProgress()
{
    TCounter w(true);
    w.Add(1);
    w.WaitStarted();
    std::atomic<bool> stopped{false};
    std::atomic<bool> endedFirst{false};
    std::thread stopper([&] {
        endedFirst = w.Stop();
        stopped = true;
    });
    w.Release();
    stopper.join();
    QVERIFY(stopped.load());
    // The stop came back only after the pass had ended.
    QVERIFY(endedFirst.load());
    QCOMPARE(w.Passes.load(), 1);
}

void TstSleepingWorker::terminateEndsAWorkerWithWorkDue()
{
    TCounter w(true);
    w.Add(100);
    w.WaitStarted();
    std::thread releaser([&] { w.Release(); });
    w.Terminate();
    releaser.join();
    // The pass in progress finished, and the worker ended without working off the rest.
    QVERIFY(w.Passes.load() >= 1);
}

void TstSleepingWorker::exceptionTextSaysWhatWasCaught()
{
    QString known, unknown;
    try {
        throw std::runtime_error("disk full");
    } catch (...) {
        known = CurrentExceptionText();
    }
    try {
        throw 42;
    } catch (...) {
        unknown = CurrentExceptionText();
    }
    QCOMPARE(known, QStringLiteral("disk full"));
    QCOMPARE(unknown, QStringLiteral("unknown exception"));
}

namespace {

// Throws in the passes it is told to; says what it heard of each failure.
class TThrower : public TSleepingWorker {
public:
    explicit TThrower(std::vector<bool> throws) : FThrows(std::move(throws)) { Start(); }
    ~TThrower() override { Terminate(); }
    void Go()
    {
        {
            std::lock_guard lk(FMutex);
            FDue = int(FThrows.size());
        }
        Wake();
    }
    std::atomic<int> Passes{0};
    std::mutex Heard;
    QStringList Told; // under Heard

private:
    bool PassDueLocked() const override { return FDue > 0; }
    void BeginPassLocked() override { --FDue; }
    void Pass() override
    {
        const std::size_t k = std::size_t(Passes++);
        if (FThrows[k] && k % 2 == 0) throw std::runtime_error("pass " + std::to_string(k));
        if (FThrows[k]) throw 7;
    }
    void PassFailed(const QString& what, int inARow) override
    {
        std::lock_guard lk(Heard);
        Told << QStringLiteral("%1 (%2)").arg(what).arg(inARow);
    }
    std::vector<bool> FThrows;
    int FDue = 0; // under FMutex
};

} // namespace

// A pass that throws must not end the worker, and with it the program: the subclass hears
// what was thrown and how many passes in a row failed, and the next passes run.
void TstSleepingWorker::passThatThrowsIsToldAndTheWorkerGoesOn()
{
    TThrower w({true, true, false, true, false, false});
    w.Go();
    QTRY_COMPARE(w.Passes.load(), 6);
    std::lock_guard lk(w.Heard);
    QCOMPARE(w.Told, QStringList({u"pass 0 (1)"_s, u"unknown exception (2)"_s, u"unknown exception (1)"_s}));
}

QTEST_GUILESS_MAIN(TstSleepingWorker)
#include "tst_sleepingworker.moc"
