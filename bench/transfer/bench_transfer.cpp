// A file of 1 MiB (or the size given) sent from the main window with YMODEM-1K to lrzsz's rb,
// and the same file sent raw (the 32-byte chunks with their hex echo), in one run, over the
// same pty and relay (tests/support/PtyRelay.h) and with the real event loop.
// For YMODEM it reports the whole transfer (from the send button, rb started right after it)
// in three parts: the start (rb's start-up until its first C), the data (first block sent
// to the last one acknowledged) and the end (EOT to the closing of the batch). rb itself
// waits about a second before its first C and about two seconds at the end of the batch,
// whoever sends. Also how late a 10 ms timer fired during the YMODEM send.
// Usage: QT_QPA_PLATFORM=offscreen bench_transfer [bytes] [runs]

#include "CvMessageBox.h"
#include "GuiLateness.h"
#include "LrzszPeer.h"
#include "PtyRelay.h"
#include "TCvXmodem.h"
#include "TSplitViewForm.h"
#include "WindowDevice.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>

namespace {

void Turn(const std::function<bool()>& done, int ms)
{
    RunUntil(done, ms);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const qint64 size = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024 * 1024;
    const int runs = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 3;
    QTemporaryDir tmp;
    qputenv("XDG_DATA_HOME", (tmp.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (tmp.path() + "/config").toUtf8());
    qputenv("HOME", (tmp.path() + "/home").toUtf8());
    SetInformationPresenter(
        [](const QString&, const QString& t) { std::fprintf(stderr, "box: %s\n", qPrintable(t)); });

    const QByteArray data = Pattern(size, 1);
    const QString path = WriteFile(tmp.filePath(QStringLiteral("image.bin")), data);
    std::printf("%lld bytes, %d runs\n", size, runs);
    for (int run = 1; run <= runs; ++run) {
        TSplitViewForm w{QLocale(QStringLiteral("en_US"))};
        w.show();
        PtyRelay relay;
        WindowDevice dev;
        dev.Attach(w, rfAscii, relay.A().SlavePath());
        auto* protocol = w.findChild<QComboBox*>(QStringLiteral("ComboTransferProtocol"));
        w.OpenDialog1 = [&] { return path; };

        // YMODEM-1K to rb.
        const QString in = tmp.filePath(QStringLiteral("in%1").arg(run));
        QDir().mkpath(in);
        protocol->setCurrentIndex(int(TCvTransferProtocol::Ymodem));
        w.Button23Click();
        QElapsedTimer clock;
        qint64 firstData = -1, lastData = -1;
        TGuiLateness late;
        clock.start();
        // The sender first, then the receiver, as when rb is typed on the device: rb's first C
        // must find the sender waiting (rb repeats it only after 10 s).
        w.Button24Click();
        LrzszPeer rb(relay.PeerFd(), QStringLiteral("rb"), {}, in);
        if (TCvTransfer* t = w.FileSender()->Transfer())
            QObject::connect(t, &TCvTransfer::ProgressChanged, t, [&](const TCvTransferProgress& p) {
                if (p.Bytes > 0 && firstData < 0) firstData = clock.nsecsElapsed();
                if (p.Bytes == size && lastData < 0) lastData = clock.nsecsElapsed();
            });
        Turn([&] { return !w.SendingFile(); }, 300000);
        const double ymodemMs = double(clock.nsecsElapsed()) / 1e6;
        late.Stop();
        rb.Wait(20000);
        const bool ymodemOk = ReadWhole(QDir(in).filePath(QStringLiteral("image.bin"))) == data;
        // The first ACK marks the end of block 1's round trip: the phase starts a block earlier.
        const double blocks = double((size + 1023) / 1024);
        const double dataMs = firstData >= 0 && lastData > firstData
                                  ? double(lastData - firstData) / 1e6 * blocks / qMax(1.0, blocks - 1)
                                  : -1;

        // The same file raw, to a reader that takes everything.
        protocol->setCurrentIndex(int(TCvTransferProtocol::Raw));
        w.Button23Click();
        // The drain polls: its reads must not block.
        ::fcntl(relay.PeerFd(), F_SETFL, ::fcntl(relay.PeerFd(), F_GETFL) | O_NONBLOCK);
        PtyDrain drain(relay.PeerFd());
        clock.restart();
        w.Button24Click();
        Turn([&] { return !w.SendingFile() && drain.Size() >= size; }, 600000);
        const double rawMs = double(clock.nsecsElapsed()) / 1e6;
        const bool rawOk = drain.Data() == data;

        std::printf(
            "run %d: YMODEM-1K to rb %.0f ms in all: start %.0f ms, data %.0f ms (%.2f MB/s), end %.0f "
            "ms%s; GUI late p99 %.1f ms, max %.1f ms; raw %.0f ms%s\n",
            run, ymodemMs, lastData > 0 ? double(lastData) / 1e6 - dataMs : -1.0, dataMs,
            dataMs > 0 ? double(size) / dataMs / 1000.0 : 0.0,
            lastData > 0 ? ymodemMs - double(lastData) / 1e6 : -1.0, ymodemOk ? "" : " (FILE DIFFERS)",
            late.Percentile(0.99), late.Percentile(1.0), rawMs, rawOk ? "" : " (DATA DIFFERS)");
        std::fflush(stdout);
        w.close();
    }
    return 0;
}
