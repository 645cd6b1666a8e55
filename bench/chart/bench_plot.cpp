// Plot speed: text lines of 8 numbers parsed per second (the parser alone, then through a
// real pty into a port object in ASCII with its log view and plot page shown, with the
// GUI event loop's lateness), how long Sync waits with the plot's input full, and the
// redraw of 16 channels of a million points each.
//   QT_QPA_PLATFORM=offscreen build/bench/chart/bench_plot [lines for the pty feed, default 2000000 | redraw]
#include "CvPlotParser.h"
#include "GuiLateness.h"
#include "PtyPair.h"
#include "TCvChart.h"
#include "TCvComPortObj.h"
#include "TCvFastLineSeries.h"
#include "TCvPlotFeed.h"
#include "TCvPlotPage.h"
#include "TLogMemo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Lines of 8 channels as firmware prints them: "12.34,-5.6,..." with CR LF.
QByteArray Lines(qint64 n)
{
    QByteArray out;
    out.reserve(n * 56);
    char cell[32];
    for (qint64 i = 0; i < n; ++i) {
        for (int k = 0; k < 8; ++k) {
            const double v = std::sin(double(i) / 50.0 + k) * 100 + k;
            const int len = std::snprintf(cell, sizeof cell, k ? ",%.2f" : "%.2f", v);
            out.append(cell, len);
        }
        out.append("\r\n");
    }
    return out;
}

void ParserAlone()
{
    const qint64 n = 1000000;
    const QString text = QString::fromLatin1(Lines(n));
    TCvPlotParser parser;
    std::vector<TCvPlotValue> values;
    QElapsedTimer t;
    t.start();
    qint64 points = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        points += parser.Parse(QStringView(text).sliced(start, end - start), values);
        start = end + 1;
    }
    const double secs = double(t.nsecsElapsed()) / 1e9;
    std::printf("parser alone: %.0f lines/s, %.0f points/s (one thread)\n", double(n) / secs,
                double(points) / secs);
}

void WriterThread(int fd, const QByteArray& data, const std::atomic<bool>& stop)
{
    qint64 done = 0;
    // Stopped when the reader gave up: nothing drains the pty after that.
    while (done < data.size() && !stop) {
        const ssize_t n =
            ::write(fd, data.constData() + done, size_t(std::min<qint64>(65536, data.size() - done)));
        if (n > 0) {
            done += n;
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
}

void PtyFeed(qint64 lines)
{
    PtyPair pty;
    QWidget window;
    auto* memo = new TLogMemo(&window);
    TCvComPortObj obj(nullptr, QStringLiteral("Virtual Port (%1)").arg(pty.SlavePath()));
    obj.CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          rfAscii, memo, false, false, false, false, true);
    auto* page = new TCvPlotPage(&obj, QString(), &window);
    auto* layout = new QHBoxLayout(&window);
    layout->addWidget(memo);
    layout->addWidget(page, 2);
    window.resize(1600, 800);
    window.show();
    obj.Open();
    const QByteArray data = Lines(lines);
    TGuiLateness lateness;
    QElapsedTimer t;
    t.start();
    std::atomic<bool> stopWriter{false};
    std::thread writer(WriterThread, pty.MasterFd(), data, std::cref(stopWriter));
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        // Lines the plot left out (its input was full) are done with too.
        if (page->Samples() + page->Feed()->DroppedLines() >= lines || t.elapsed() > 120000) loop.quit();
    });
    check.start(2);
    loop.exec();
    const double secs = double(t.nsecsElapsed()) / 1e9;
    stopWriter = true;
    writer.join();
    lateness.Stop();
    const qint64 dropped = page->Feed()->DroppedLines();
    std::printf("pty feed, %lld lines of 8 channels (%.1f MB), log view and plot shown: %.0f lines/s, "
                "%.0f points/s, %lld lines left out of the plot, GUI lateness p99 %.1f ms, max %.1f ms%s\n",
                static_cast<long long>(lines), double(data.size()) / 1e6, double(page->Samples()) / secs,
                double(page->Samples()) * 8 / secs, static_cast<long long>(dropped),
                lateness.Percentile(0.99), lateness.Percentile(1),
                page->Samples() + dropped < lines ? " (stopped early)" : "");
}

// Sync (behind export) with the feed's input full and nobody having taken a row: how long
// the window waits for the backlog, which the feed's bounds keep small.
void SyncBacklog()
{
    QWidget window;
    auto* page = new TCvPlotPage(nullptr, QString(), &window);
    (new QHBoxLayout(&window))->addWidget(page);
    window.resize(1600, 800);
    window.show();
    const QString piece = QString::fromLatin1(Lines(20000)); // about 1.1 Mi characters
    for (int k = 0; k < 40; ++k) page->Feed()->TextReceived(QString(piece.constData(), piece.size()), 0);
    QElapsedTimer t;
    t.start();
    page->Sync();
    std::printf(
        "Sync with the plot's input full (40 pieces of %lld characters given, nothing taken): %.1f ms, "
        "%lld rows applied, %lld lines left out\n",
        static_cast<long long>(piece.size()), double(t.nsecsElapsed()) / 1e6,
        static_cast<long long>(page->Samples()), static_cast<long long>(page->Feed()->DroppedLines()));
}

void Redraw()
{
    QWidget window;
    auto* page = new TCvPlotPage(nullptr, QString(), &window);
    (new QHBoxLayout(&window))->addWidget(page);
    window.resize(1600, 800);
    window.show();
    QString first;
    for (int k = 0; k < 16; ++k) first += QStringLiteral("%1 ").arg(k);
    page->Feed()->TextReceived(first + QStringLiteral("\r\n"), 0);
    page->Sync();
    const qint64 n = TCvPlotPage::kMaxPoints;
    std::vector<double> ys(std::size_t(n - 1));
    for (int k = 0; k < 16; ++k) {
        for (qint64 i = 0; i < n - 1; ++i) ys[std::size_t(i)] = std::sin(double(i) / 1000.0 + k) * 100;
        page->Series(QString::number(k + 1))->AddYs(ys.data(), n - 1);
    }
    QApplication::processEvents();
    std::vector<double> ms, decimate, paint;
    for (int r = 0; r < 15; ++r) {
        QElapsedTimer t;
        t.start();
        page->Chart()->Refresh();
        const double d = double(t.nsecsElapsed()) / 1e6;
        page->Chart()->viewport()->repaint();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        decimate.push_back(d);
        paint.push_back(ms.back() - d);
    }
    for (auto* v : {&ms, &decimate, &paint}) std::sort(v->begin(), v->end());
    // To look at what was timed.
    if (const QString png = qEnvironmentVariable("BENCH_PLOT_PNG"); !png.isEmpty()) page->SavePng(png);
    // The frame alone (axes, grid, labels): every channel hidden.
    for (int k = 0; k < 16; ++k) page->SetChannelVisible(QString::number(k + 1), false);
    std::vector<double> frame;
    for (int r = 0; r < 15; ++r) {
        QElapsedTimer t;
        t.start();
        page->Chart()->viewport()->repaint();
        frame.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(frame.begin(), frame.end());
    std::printf(
        "redraw, 16 channels x %lld points, %d px wide: median %.1f ms (decimation %.1f, painting %.1f, "
        "of which the frame without lines %.1f), worst %.1f ms\n",
        static_cast<long long>(page->Series(QStringLiteral("1"))->Count()),
        int(page->Chart()->chart()->plotArea().width()), ms[ms.size() / 2], decimate[ms.size() / 2],
        paint[ms.size() / 2], frame[frame.size() / 2], ms.back());
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QByteArray arg = argc > 1 ? QByteArray(argv[1]) : QByteArray("2000000");
    const qint64 lines = arg == "redraw" ? 0 : arg.toLongLong();
    // "redraw" runs the redraw alone.
    if (lines > 0) {
        ParserAlone();
        PtyFeed(lines);
        SyncBacklog();
    }
    Redraw();
    return 0;
}
