// Sends a 5 MiB file from the main window through a real pty whose peer reads as fast as
// it can, with the per-chunk hex echo into the device's log, and reports the total time
// and how late the GUI event loop ran (a 1 ms probe timer) during the send.
// With "stalled" the peer reads nothing: the send gets stuck for two seconds and is then
// cancelled; the figure is how late a 10 ms timer fired meanwhile (the aim: under 50 ms).
// Usage: QT_QPA_PLATFORM=offscreen bench_filesend [bytes | stalled]

#include "CvMessageBox.h"
#include "GuiLateness.h"
#include "TSplitViewForm.h"
#include "WindowDevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const bool stalled = argc > 1 && QByteArray(argv[1]) == "stalled";
    const qint64 size = argc > 1 && !stalled ? QByteArray(argv[1]).toLongLong() : 5242880;
    QTemporaryDir tmp;
    qputenv("XDG_DATA_HOME", (tmp.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (tmp.path() + "/config").toUtf8());
    qputenv("HOME", (tmp.path() + "/home").toUtf8());
    SetInformationPresenter(
        [](const QString&, const QString& t) { std::fprintf(stderr, "box: %s\n", qPrintable(t)); });

    TSplitViewForm w{QLocale(QStringLiteral("en_US"))};
    w.show();
    WindowDevice dev;
    dev.Attach(w);
    // As the device manager installs it: every log line refreshes the counter panel.
    dev.obj->FCallBackFun = [&w](int count) { w.CvComPortObjCallBack(count); };
    std::unique_ptr<PtyDrain> drainer;
    if (!stalled) drainer = std::make_unique<PtyDrain>(dev.pty->MasterFd());

    const QString path = tmp.filePath(QStringLiteral("file.bin"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return 1;
        QByteArray b(int(size), Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i) b[i] = char(i * 131 + 7);
        f.write(b);
    }
    w.OpenDialog1 = [&] { return path; };
    w.Button23Click();
    if (!w.FileStream()) {
        std::fprintf(stderr, "file not loaded\n");
        return 1;
    }

    if (stalled) {
        w.Button24Click();
        TGuiLateness lateness;
        QElapsedTimer stuck;
        stuck.start();
        while (stuck.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        lateness.Stop();
        const qint64 sentBefore = dev.obj->FComSentCount.load();
        QElapsedTimer cancel;
        cancel.start();
        w.Button26Click();
        const double cancelMs = cancel.nsecsElapsed() / 1e6;
        std::printf("stalled peer: %lld of %lld bytes taken before it stopped reading\n",
                    static_cast<long long>(sentBefore), static_cast<long long>(size));
        std::printf("event-loop lateness while stuck (10 ms timer): p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                    lateness.Percentile(0.5), lateness.Percentile(0.99), lateness.Percentile(1));
        std::printf("cancel took %.2f ms; still sending: %s; last log line: %s\n", cancelMs,
                    w.SendingFile() ? "yes" : "no", qPrintable(LogLines(dev.obj->LogView()).last()));
        return w.SendingFile() ? 2 : 0;
    }
    PtyDrain& drain = *drainer;
    std::vector<qint64> gaps;
    QElapsedTimer clock;
    qint64 last = -1;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0) gaps.push_back(now - last);
        last = now;
    });
    clock.start();
    probe.start();
    w.Button24Click();
    // The send goes on from the event loop.
    while (w.SendingFile()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double totalS = clock.nsecsElapsed() / 1e9;
    probe.stop();
    if (last >= 0) gaps.push_back(clock.nsecsElapsed() - last);

    QElapsedTimer wait;
    wait.start();
    while (drain.Size() < size && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::sort(gaps.begin(), gaps.end());
    const auto pct = [&](double p) {
        return gaps.empty() ? 0.0
                            : gaps[std::min(gaps.size() - 1, std::size_t(p * double(gaps.size())))] / 1e6;
    };
    std::printf("bytes %lld, received by peer %lld, log lines %lld\n", static_cast<long long>(size),
                static_cast<long long>(drain.Size()),
                static_cast<long long>(dev.obj->LogView()->Model().LineCount()));
    std::printf("total send time %.3f s\n", totalS);
    std::printf("event-loop gap: samples %zu, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", gaps.size(), pct(0.5),
                pct(0.99), gaps.empty() ? 0.0 : gaps.back() / 1e6);
    return drain.Size() == size ? 0 : 2;
}
