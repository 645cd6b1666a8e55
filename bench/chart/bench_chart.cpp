// Waveform chart speed: points appended per second, the redraw of a chart holding a
// million points, memory per kept point, and the Graphic format fed through a real pty
// at 1 MB/s with the chart following.
//   build/bench/chart/bench_chart [seconds of the pty feed, default 60]
#include "GuiLateness.h"
#include "PtyPair.h"
#include "TComUIHandleThread.h"
#include "TCvChart.h"
#include "TCvChartPanel.h"
#include "TCvComPortObj.h"
#include "TCvFastLineSeries.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLineSeries>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Host {
    QWidget window;
    TCvChart* chart = new TCvChart(&window);
    TCvChartPanel* panel = new TCvChartPanel(chart, &window);
    Host()
    {
        auto* layout = new QHBoxLayout(&window);
        layout->addWidget(chart, 1);
        layout->addWidget(panel);
        window.resize(1280, 720);
        window.show();
        QApplication::processEvents();
    }
};

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
}

void AppendRate(Host& h)
{
    TCvFastLineSeries* s = h.chart->CharInitSeries(false);
    const qint64 n = 20'000'000;
    QElapsedTimer t;
    t.start();
    // As the port object does it: one point, then one notification that moves the axis.
    for (qint64 i = 0; i < n; ++i) {
        s->AddY(double(i & 255));
        h.panel->Page()->ChartFollow(1);
    }
    const double secs = double(t.nsecsElapsed()) / 1e9;
    std::printf("append + follow on the GUI thread: %.1f M points/s (%lld points, %lld kept)\n",
                double(n) / secs / 1e6, n, s->Count());
}

void MillionPointFrames(Host& h)
{
    const long before = ResidentKiB();
    TCvFastLineSeries* s = h.chart->CharInitSeries(false);
    for (qint64 i = 0; i < 1'000'000; ++i) s->AddY(128 + 100 * ((i * 7919) % 255) / 255.0 - 50);
    h.chart->Refresh();
    const long after = ResidentKiB();
    std::printf(
        "memory: %.2f bytes per kept point in the series (%lld points), resident growth %.2f bytes/point\n",
        double(s->MemoryBytes()) / double(s->Count()), s->Count(), double(after - before) * 1024 / 1e6);
    {
        QList<QPointF> points;
        double lo, hi;
        std::vector<double> ms;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer t;
            t.start();
            s->Decimate(double(s->FirstX()), double(s->NextX()), 1000, points, lo, hi);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::printf("thinning 1,000,000 points to 1000 columns: median %.2f ms (%lld points out)\n",
                    Percentile(ms, 0.5), qint64(points.size()));
    }
    struct Case {
        const char* name;
        bool automatic;
    } cases[] = {{"all 1,000,000 points visible", true}, {"following, 1,000,000 wide window", false}};
    for (const Case& c : cases) {
        if (c.automatic) h.chart->SetBottomAxisAutomatic(true);
        else h.chart->SetBottomAxisMinMax(double(s->FirstX()), double(s->NextX()));
        std::vector<double> refresh, frame;
        for (int i = 0; i < 40; ++i) {
            s->AddY(double(i));
            h.panel->Page()->ChartFollow(1);
            QElapsedTimer t;
            t.start();
            h.chart->Refresh();
            refresh.push_back(double(t.nsecsElapsed()) / 1e6);
            const QPixmap p = h.chart->grab();
            frame.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::printf("redraw, %s: refresh (thinning, hand-over to the line, axes) median %.2f ms; refresh + "
                    "grab of %dx%d median %.2f ms, p95 %.2f ms "
                    "(%lld points drawn)\n",
                    c.name, Percentile(refresh, 0.5), h.chart->width(), h.chart->height(),
                    Percentile(frame, 0.5), Percentile(frame, 0.95), qint64(s->LineSeries()->count()));
    }
}

void PtyFeed(Host& h, int seconds)
{
    PtyPair pty;
    TCvComPortObj obj(nullptr, QStringLiteral("Virtual Port (%1)").arg(pty.SlavePath()));
    obj.CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          rfGraphic, nullptr, false, false, false, false, true);
    obj.SetSeries(h.chart->CharInitSeries(false));
    h.panel->CheckBox10->setChecked(true);
    obj.FCallBackFun = [&](int count) { h.panel->Page()->ChartFollow(count); };
    obj.Open();
    auto* series = qobject_cast<TCvFastLineSeries*>(obj.Series());

    // 1 MB/s: 10 KB every 10 ms, on the wall clock so a slow reader does not slow the feed.
    const qint64 total = qint64(seconds) * 1'000'000;
    std::atomic<qint64> written{0};
    std::thread writer([&] {
        QByteArray chunk(10'000, 0);
        for (int i = 0; i < chunk.size(); ++i) chunk[i] = char((i * 37) & 255);
        QElapsedTimer clock;
        clock.start();
        while (written < total) {
            const qint64 due = std::min(total, clock.elapsed() * 1000);
            while (written < due) {
                const qint64 off = written % chunk.size();
                const ssize_t n = ::write(pty.MasterFd(), chunk.constData() + off,
                                          size_t(std::min<qint64>(chunk.size() - off, due - written)));
                if (n > 0) written += n;
                else {
                    pollfd p{pty.MasterFd(), POLLOUT, 0};
                    ::poll(&p, 1, 5);
                }
            }
            ::usleep(2000);
        }
    });

    TGuiLateness lateness;
    // Frames drawn by the chart itself while the data flows.
    std::vector<double> frames;
    QTimer painter;
    QObject::connect(&painter, &QTimer::timeout, &painter, [&] {
        QElapsedTimer t;
        t.start();
        h.chart->Refresh();
        h.chart->repaint();
        frames.push_back(double(t.nsecsElapsed()) / 1e6);
    });
    painter.start(100);
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, &loop, [&] {
        const bool caughtUp = written.load() >= total && obj.FComProcessedCount.load() >= total &&
                              obj.UIHandleThread()->Suspended();
        if (caughtUp || t.elapsed() > (seconds + 120) * 1000LL) loop.quit();
    });
    done.start(5);
    loop.exec();
    obj.FlushUiQueue();
    const double secs = double(t.nsecsElapsed()) / 1e9;
    writer.join();
    const qint64 points = series ? series->NextX() : 0;
    std::printf("pty feed, Graphic at 1 MB/s for %d s, following on: %lld points in %.1f s = %.0f points/s "
                "(%.2f of the feed), kept %lld\n",
                seconds, points, secs, double(points) / secs, double(points) / double(total),
                series ? series->Count() : 0);
    std::printf(
        "  GUI event-loop lateness p99 %.1f ms, max %.1f ms; chart frame (refresh + paint) median %.2f ms, "
        "p99 %.2f ms; axis %.0f..%.0f\n",
        lateness.Percentile(0.99), lateness.Percentile(1.0), Percentile(frames, 0.5),
        Percentile(frames, 0.99), h.chart->BottomAxisMinimum(), h.chart->BottomAxisMaximum());
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
    Host h;
    AppendRate(h);
    MillionPointFrames(h);
    PtyFeed(h, seconds);
    return 0;
}
