#pragma once

// How late a 10 ms timer fires tells how long the GUI thread was kept from its events:
// the benchmarks' measure of a responsive window. Start it before the load, read it after.

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <vector>

class TGuiLateness {
public:
    TGuiLateness()
    {
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, &FTimer, [this] {
            FSamples.push_back(std::max(0.0, double(FTick.nsecsElapsed()) / 1e6 - kIntervalMs));
            FTick.restart();
        });
        FTick.start();
        FTimer.start(int(kIntervalMs));
    }
    void Stop() { FTimer.stop(); }
    // p in [0, 1]; 1 is the worst. Milliseconds late, 0 without samples.
    double Percentile(double p) const
    {
        if (FSamples.empty()) return 0;
        std::vector<double> v = FSamples;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
    }

private:
    static constexpr double kIntervalMs = 10.0;
    std::vector<double> FSamples;
    QElapsedTimer FTick;
    QTimer FTimer;
};

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <cstdio>
#include <ctime>
#include <map>
#include <string>

// What the GUI thread spends on each event it handles, in its own CPU time: unlike the
// lateness above, a busy machine does not inflate it. Install it on the application
// (TEventCostApp below); Report() names the most expensive kinds of event.
class TGuiEventCost {
public:
    static TGuiEventCost& Instance()
    {
        static TGuiEventCost cost;
        return cost;
    }
    void Reset()
    {
        FKinds.clear();
        FSamples.clear();
    }
    void Record(const char* className, int eventType, double cpuMs, double wallMs)
    {
        FSamples.push_back(cpuMs);
        const std::string key = std::string(className) + "/" + std::to_string(eventType);
        Kind& k = FKinds[key];
        ++k.count;
        k.totalMs += cpuMs;
        k.maxMs = std::max(k.maxMs, cpuMs);
        k.maxWallMs = std::max(k.maxWallMs, wallMs);
    }
    double Percentile(double p) const
    {
        if (FSamples.empty()) return 0;
        std::vector<double> v = FSamples;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
    }
    // The kinds of event with the longest single run, worst first.
    void Report(int top = 4) const
    {
        std::vector<std::pair<std::string, Kind>> v(FKinds.begin(), FKinds.end());
        std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) {
            return std::max(a.second.maxMs, a.second.maxWallMs) >
                   std::max(b.second.maxMs, b.second.maxWallMs);
        });
        std::printf("    GUI events: %zu, CPU per event p99 %.2f ms, max %.2f ms\n", FSamples.size(),
                    Percentile(0.99), Percentile(1.0));
        for (int i = 0; i < top && i < int(v.size()); ++i)
            std::printf("      %-40s n=%-8lld total %8.1f ms  max %6.2f ms (wall %6.2f ms)\n",
                        v[i].first.c_str(), v[i].second.count, v[i].second.totalMs, v[i].second.maxMs,
                        v[i].second.maxWallMs);
    }

private:
    struct Kind {
        long long count = 0;
        double totalMs = 0;
        double maxMs = 0;
        double maxWallMs = 0;
    };
    std::map<std::string, Kind> FKinds;
    std::vector<double> FSamples;
};

// An application that measures every event the GUI thread handles at the top level.
template <typename App> class TEventCostApp : public App {
public:
    using App::App;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (FDepth > 0 || QThread::currentThread() != this->thread()) return App::notify(receiver, event);
        ++FDepth;
        // Both may be gone once the event is handled.
        const char* className = receiver->metaObject()->className();
        const int type = int(event->type());
        const double t0 = ThreadCpuMs();
        QElapsedTimer wall;
        wall.start();
        const bool done = App::notify(receiver, event);
        TGuiEventCost::Instance().Record(className, type, ThreadCpuMs() - t0,
                                         double(wall.nsecsElapsed()) / 1e6);
        --FDepth;
        return done;
    }

private:
    static double ThreadCpuMs()
    {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
    }
    int FDepth = 0;
};
