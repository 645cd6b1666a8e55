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
