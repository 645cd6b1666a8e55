// A long run at a steady rate through the device simulator: hex display with line numbers and
// time, memory and GUI lateness sampled along the way, and at the end the saved log checked for
// a line for every 16 bytes received.
//   build/bench/serial/soak [seconds=3600] [bytes_per_second=1000000]
#include "GuiLateness.h"
#include "TComUIHandleThread.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace {
long RssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 3600;
    const int rate = argc > 2 ? QByteArray(argv[2]).toInt() : 1000000;
    const QString sim = QCoreApplication::applicationDirPath() + QStringLiteral("/../../tools/corvane-sim");

    QProcess device;
    device.start(sim, {QStringLiteral("--rate"), QString::number(rate)});
    if (!device.waitForReadyRead(5000)) {
        std::fprintf(stderr, "soak: cannot start %s\n", qPrintable(sim));
        return 1;
    }
    const QString path = QString::fromLocal8Bit(device.readLine()).trimmed();

    QWidget window;
    auto* memo = new TLogMemo(&window);
    (new QVBoxLayout(&window))->addWidget(memo);
    window.resize(1000, 700);
    window.show();
    TCvComPortObj obj(nullptr, QStringLiteral("Virtual Port (%1)").arg(path));
    obj.CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          rfHex, memo, false, true, true, false, false);
    obj.FHexModeFormatCount = 16;
    obj.Open();

    TGuiLateness lateness;

    QElapsedTimer clock;
    clock.start();
    std::printf("seconds  received_MB  rss_MiB  log_in_memory_MiB  log_on_disk_MiB\n");
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, &sample, [&] {
        std::printf("%7lld  %11.1f  %7.1f  %17.1f  %15.1f\n", clock.elapsed() / 1000,
                    obj.FComReceiveCount.load() / 1e6, RssKiB() / 1024.0,
                    memo->Model().MemoryBytes() / 1048576.0, memo->Model().SpilledBytes() / 1048576.0);
        std::fflush(stdout);
        if (clock.elapsed() >= qint64(seconds) * 1000) app.quit();
    });
    sample.start(std::max(1000, seconds * 1000 / 60));
    app.exec();

    device.terminate();
    device.waitForFinished(5000);
    lateness.Stop();
    const double p99 = lateness.Percentile(0.99), worst = lateness.Percentile(1.0);
    // Printed before the log is checked: that takes a while for an hour of data.
    std::printf("GUI lateness while receiving: p99 %.1f ms, max %.1f ms\n", p99, worst);
    std::fflush(stdout);
    // Let the display catch up with what was received, then save the log as the program does.
    QElapsedTimer settle;
    settle.start();
    while (
        (obj.FComProcessedCount.load() < obj.FComReceiveCount.load() || !obj.UIHandleThread()->Suspended()) &&
        settle.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("soak.log"));
    obj.SaveLog(logPath);
    QFile log(logPath);
    log.open(QIODevice::ReadOnly);
    qint64 lines = 0, hexBytes = 0;
    while (!log.atEnd()) {
        const QByteArray line = log.readLine();
        ++lines;
        // "NN| (hh:mm:ss) AA BB ..." : count the byte cells after the time; other lines
        // (the device going away at the end) hold no received bytes.
        const qsizetype at = line.indexOf(") ");
        if (at <= 0) continue;
        const QList<QByteArray> cells = line.mid(at + 2).trimmed().split(' ');
        const bool hex = std::all_of(cells.begin(), cells.end(), [](const QByteArray& c) {
            return c.size() == 2 && std::isxdigit(static_cast<unsigned char>(c[0])) &&
                   std::isxdigit(static_cast<unsigned char>(c[1]));
        });
        if (hex) hexBytes += cells.size();
    }
    const qint64 received = obj.FComReceiveCount.load();
    std::printf("received %lld bytes, log lines %lld, bytes in the saved log %lld (%s), GUI lateness p99 "
                "%.1f ms, max %.1f ms\n",
                received, lines, hexBytes, hexBytes == received ? "all" : "MISSING", p99, worst);
    return hexBytes == received ? 0 : 1;
}
