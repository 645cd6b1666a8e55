// Receive-display throughput through a real pseudo-terminal, measured from the first byte
// written to the last line shown, with the GUI event loop's lateness during the flood.
//   build/bench/serial/bench_display [megabytes]
//   build/bench/serial/bench_display [megabytes] network   hex display, pty and TCP loopback
//   build/bench/serial/bench_display [megabytes] CASE     only the cases whose name holds CASE ("ascii")
//   build/bench/serial/bench_display tcp-flood [seconds]   hex from a TCP peer sending flat out (20 s):
//                                                          peak memory, and every byte shown
#include "CvCodecs.h"
#include "GuiLateness.h"
#include "PtyPair.h"
#include "TComUIHandleThread.h"
#include "TCvAnsiFilter.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

enum TPayload { kBinary, kCrlfText, kLfText, kChineseText, kEspColours };

QByteArray Payload(qint64 size, TPayload kind)
{
    if (kind == kEspColours) {
        // An ESP-IDF log: every line in its level's colour, reset at its end.
        static const char* const kLevels[] = {"0;32mI", "0;32mI", "0;33mW", "0;32mI", "0;31mE"};
        QByteArray out;
        out.reserve(size + 128);
        for (int i = 0; out.size() < size; ++i)
            out += "\x1b[" + QByteArray(kLevels[i % 5]) + " (" + QByteArray::number(i * 7) +
                   ") wifi: state: auth -> assoc (0), rssi -" + QByteArray::number(40 + i % 50) +
                   "\x1b[0m\r\n";
        out.truncate(size);
        // Whole lines only: the last one ends where the payload does.
        out.truncate(out.lastIndexOf('\n') + 1);
        return out;
    }
    QByteArray b(size, 0);
    if (kind == kChineseText) {
        // Lines of UTF-8 Chinese text (3 bytes a character) ending in LF, as firmware logs them.
        const QByteArray line = QStringLiteral("温度 23.5°C 湿度 45% 设备运行正常，无告警。\n").toUtf8();
        for (qint64 i = 0; i < size; ++i) b[i] = line[i % line.size()];
        return b;
    }
    const bool text = kind != kBinary;
    for (qint64 i = 0; i < size; ++i)
        b[i] = text ? ((i % 64 == 63) ? '\n' : char('a' + i % 26)) : char(i * 31);
    if (kind == kCrlfText)
        for (qint64 i = 63; i < size; i += 64) b[i - 1] = '\r';
    return b;
}

// What the display counts as processed for text: characters shown (escapes taken out),
// without the line breaks when the lines carry prefixes.
qint64 ExpectedProcessed(const QByteArray& data, bool prefixed)
{
    TTextDecoder decoder;
    TLineBreakFilter breaks;
    TCvAnsiFilter escapes;
    TCvStyledText shown;
    escapes.Feed(breaks.Apply(decoder.Decode(data.constData(), data.size())), shown);
    const QString& text = shown.Text;
    return prefixed ? text.size() - 2 * text.count(QLatin1String("\r\n")) : text.size();
}

void WriterThread(int fd, const QByteArray& data)
{
    qint64 done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.constData() + done, size_t(std::min<qint64>(65536, data.size() - done)));
        if (n > 0) done += n;
        else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
}

double RawReadSpeed(qint64 size)
{
    PtyPair pty;
    const QByteArray data = Payload(size, kBinary);
    int fd = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY);
    QElapsedTimer t;
    t.start();
    std::thread w(WriterThread, pty.MasterFd(), data);
    std::vector<char> buf(1 << 20);
    qint64 got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n > 0) got += n;
    }
    const double secs = t.nsecsElapsed() / 1e9;
    w.join();
    ::close(fd);
    return size / secs;
}

struct Result {
    double bytesPerSec;
    double p99LatenessMs;
    double maxLatenessMs;
};

// A loopback listener whose one client gets the data (the network variant's device).
struct TcpDevice {
    int listener = -1;
    quint16 port = 0;
    TcpDevice()
    {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            std::abort();
        port = ntohs(a.sin_port);
    }
    ~TcpDevice() { ::close(listener); }
    static void Serve(int listener, const QByteArray& data)
    {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) return;
        WriterThread(fd, data);
        ::shutdown(fd, SHUT_WR);
        char sink[256];
        while (::read(fd, sink, sizeof sink) > 0) {}
        ::close(fd);
    }
};

Result Flood(int format, bool lineNumbers, bool time, qint64 size, TPayload kind, bool network = false)
{
    PtyPair pty;
    TcpDevice tcp;
    QWidget window;
    auto* memo = new TLogMemo(&window);
    (new QVBoxLayout(&window))->addWidget(memo);
    window.resize(1000, 700);
    window.show();
    const QString portName = network ? QStringLiteral("tcp://127.0.0.1:%1").arg(tcp.port) : pty.SlavePath();
    TCvComPortObj obj(nullptr, QStringLiteral("Virtual Port (%1)").arg(portName));
    obj.CvComPortObjInit2(QString(), portName, br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          format, memo, false, time, lineNumbers, false, true);
    obj.FHexModeFormatCount = 16;
    obj.FHexModeWithString = true;
    qint64 callbacks = 0;
    obj.FCallBackFun = [&](int) { ++callbacks; };
    obj.Open();
    const QByteArray data = Payload(size, kind);
    // Worked out before the clock and the lateness probe start: decoding the whole payload
    // keeps the GUI thread busy for a good part of a second.
    const qint64 expected = format == rfAscii ? ExpectedProcessed(data, lineNumbers || time) : size;
    TGuiLateness lateness;
    QElapsedTimer t;
    t.start();
    std::thread w = network ? std::thread(TcpDevice::Serve, tcp.listener, std::cref(data))
                            : std::thread(WriterThread, pty.MasterFd(), std::cref(data));
    // The GUI thread sleeps in its event loop as in the program; a check every 2 ms ends it.
    QEventLoop loop;
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, &loop, [&] {
        if ((obj.FComProcessedCount.load() >= expected && obj.UIHandleThread()->Suspended()) ||
            t.elapsed() > 600000)
            loop.quit();
    });
    done.start(2);
    loop.exec();
    obj.FlushUiQueue();
    const double secs = t.nsecsElapsed() / 1e9;
    obj.Close();
    w.join();
    std::printf("  (%lld callbacks, %.0f bytes each)\n", callbacks,
                double(size) / double(std::max<qint64>(1, callbacks)));
    return {size / secs, lateness.Percentile(0.99), lateness.Percentile(1.0)};
}

// Resident memory now, in bytes.
qint64 RssBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE) : 0;
}

quint64 Fnv1a(quint64 h, const char* p, qint64 n)
{
    for (qint64 i = 0; i < n; ++i) h = (h ^ quint8(p[i])) * 1099511628211ull;
    return h;
}

// The bytes of the hex lines the view shows ("NN| XX XX ...   text"), in order.
quint64 ShownBytesChecksum(const TLogModel& model, qint64* count)
{
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    const auto value = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    quint64 h = 14695981039346656037ull;
    *count = 0;
    for (qint64 i = 0; i < model.LineCount(); ++i) {
        const QByteArray line = model.LineUtf8(i);
        qsizetype p = line.indexOf("| ");
        if (p < 0) continue;
        p += 2;
        char bytes[64];
        int n = 0;
        while (p + 2 < line.size() && hex(line[p]) && hex(line[p + 1]) && line[p + 2] == ' ' && n < 64) {
            bytes[n++] = char(value(line[p]) * 16 + value(line[p + 1]));
            p += 3;
            if (p < line.size() && line[p] == ' ') break;
        }
        h = Fnv1a(h, bytes, n);
        *count += n;
    }
    return h;
}

// A TCP loopback device that sends as fast as it can for `seconds`, into a port showing hex
// lines: memory must stay bounded however long it lasts, and every byte sent must be shown.
int TcpFlood(int seconds)
{
    TcpDevice tcp;
    QWidget window;
    auto* memo = new TLogMemo(&window);
    (new QVBoxLayout(&window))->addWidget(memo);
    window.resize(1000, 700);
    window.show();
    const QString portName = QStringLiteral("tcp://127.0.0.1:%1").arg(tcp.port);
    TCvComPortObj obj(nullptr, QStringLiteral("Virtual Port (%1)").arg(portName));
    obj.CvComPortObjInit2(QString(), portName, br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          rfHex, memo, false, false, true, false, true);
    obj.Open();
    std::atomic<qint64> sent{0};
    std::atomic<bool> finished{false};
    quint64 sentHash = 14695981039346656037ull;
    std::thread w([&] {
        const int fd = ::accept(tcp.listener, nullptr, nullptr);
        if (fd < 0) return;
        QByteArray block(65536, 0);
        QElapsedTimer t;
        t.start();
        qint64 at = 0;
        while (t.elapsed() < seconds * 1000) {
            for (qsizetype i = 0; i < block.size(); ++i) block[i] = char((at + i) * 31 + (at + i) / 251);
            qint64 off = 0;
            while (off < block.size() && t.elapsed() < seconds * 1000 + 5000) {
                const ssize_t n = ::write(fd, block.constData() + off, size_t(block.size() - off));
                if (n > 0) {
                    sentHash = Fnv1a(sentHash, block.constData() + off, n);
                    off += n;
                    sent += n;
                } else {
                    pollfd p{fd, POLLOUT, 0};
                    ::poll(&p, 1, 10);
                }
            }
            at += off;
        }
        ::shutdown(fd, SHUT_WR);
        finished = true;
        char sink[256];
        while (::read(fd, sink, sizeof sink) > 0) {}
        ::close(fd);
    });
    TGuiLateness lateness;
    QElapsedTimer t;
    t.start();
    qint64 peakRss = 0, peakHandOver = 0;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        peakRss = std::max(peakRss, RssBytes());
        peakHandOver = std::max(peakHandOver, obj.HandOverBytes());
        if ((finished && obj.FComProcessedCount.load() >= sent.load() && obj.UIHandleThread()->Suspended()) ||
            t.elapsed() > (seconds + 120) * 1000)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    obj.FlushUiQueue();
    const double secs = t.nsecsElapsed() / 1e9;
    lateness.Stop();
    obj.Close();
    w.join();
    qint64 shown = 0;
    const quint64 shownHash = ShownBytesChecksum(memo->Model(), &shown);
    std::printf(
        "TCP loopback flood, hex, %d s: sent %lld bytes, shown %lld (%s), %.1f MB/s; peak RSS %.0f MB, "
        "hand-over at most %.1f MB; GUI lateness p99 %.1f ms, max %.1f ms\n",
        seconds, sent.load(), shown,
        shown == sent.load() && shownHash == sentHash ? "all, checksums equal" : "MISSING OR CHANGED",
        double(sent.load()) / secs / 1e6, double(peakRss) / 1e6, double(peakHandOver) / 1e6,
        lateness.Percentile(0.99), lateness.Percentile(1.0));
    TGuiEventCost::Instance().Report();
    return shown == sent.load() && shownHash == sentHash ? 0 : 1;
}

void MillionLines()
{
    QWidget window;
    auto* memo = new TLogMemo(&window);
    (new QVBoxLayout(&window))->addWidget(memo);
    window.resize(1000, 700);
    window.show();
    const QString line = QStringLiteral(
        "0000001| (20261210 12:00:00) 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   ABCDEFGHIJKLMNOP");
    for (int i = 0; i < 1000000; ++i) memo->Model().Add(line);
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    memo->ScrollToEnd();
    memo->repaint();
    const double scrollMs = t.nsecsElapsed() / 1e6;
    t.restart();
    memo->Model().Add(line);
    memo->ScrollToEnd();
    QApplication::processEvents();
    memo->repaint();
    const double appendMs = t.nsecsElapsed() / 1e6;
    std::printf("log view, 1,000,000 hex lines: %.2f bytes of memory per byte of text (%.1f bytes/line), "
                "scroll to end + paint %.2f ms, append one line + paint %.2f ms\n",
                double(memo->Model().MemoryBytes()) / double(memo->Model().TextBytes()),
                double(memo->Model().MemoryBytes()) / 1e6, scrollMs, appendMs);
}

// One line that never ends (binary data in ASCII, a device without line breaks): the cost
// of a repaint, scrolled to its start and to its middle.
void LongLine(int mib)
{
    QWidget window;
    auto* memo = new TLogMemo(&window);
    (new QVBoxLayout(&window))->addWidget(memo);
    window.resize(1000, 700);
    window.show();
    QString line(qsizetype(mib) << 20, u'x');
    for (qsizetype i = 0; i < line.size(); i += 7) line[i] = QChar(char16_t(u'a' + i % 26));
    memo->Model().Add(line);
    memo->ScrollToEnd();
    QApplication::processEvents();
    double ms[2] = {};
    for (int k = 0; k < 2; ++k) {
        QScrollBar* h = memo->horizontalScrollBar();
        h->setValue(k == 0 ? 0 : h->maximum() / 2);
        QApplication::processEvents();
        QElapsedTimer t;
        t.start();
        const int rounds = 5;
        for (int r = 0; r < rounds; ++r) memo->viewport()->repaint();
        ms[k] = t.nsecsElapsed() / 1e6 / rounds;
    }
    std::printf("log view, one %d MiB line: repaint %.2f ms at its start, %.2f ms in its middle\n", mib,
                ms[0], ms[1]);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TEventCostApp<QApplication> app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "tcp-flood")
        return TcpFlood(argc > 2 ? QByteArray(argv[2]).toInt() : 20);
    const qint64 mb = argc > 1 ? QByteArray(argv[1]).toLongLong() : 32;
    const qint64 size = mb * 1024 * 1024;
    const double raw = RawReadSpeed(size);
    std::printf("raw pty read: %.1f MB/s\n", raw / 1e6);
    if (argc > 2 && QByteArray(argv[2]) == "network") {
        const Result local = Flood(rfHex, true, false, size, kBinary);
        std::printf("%-42s %7.1f MB/s, GUI lateness p99 %.1f ms\n", "hex over the pty",
                    local.bytesPerSec / 1e6, local.p99LatenessMs);
        const Result net = Flood(rfHex, true, false, size, kBinary, true);
        std::printf("%-42s %7.1f MB/s (%.2f of the pty), GUI lateness p99 %.1f ms\n", "hex over TCP loopback",
                    net.bytesPerSec / 1e6, net.bytesPerSec / local.bytesPerSec, net.p99LatenessMs);
        return 0;
    }
    struct Case {
        const char* name;
        int format;
        bool lines, time;
        TPayload kind;
    } cases[] = {
        {"hex, 16/line, text column, line numbers", rfHex, true, false, kBinary},
        {"ascii, no prefixes", rfAscii, false, false, kCrlfText},
        {"ascii, line numbers and time", rfAscii, true, true, kCrlfText},
        {"ascii LF-only, line numbers and time", rfAscii, true, true, kLfText},
        {"ascii UTF-8 Chinese, line numbers and time", rfAscii, true, true, kChineseText},
        {"ascii ESP-IDF colours, no prefixes", rfAscii, false, false, kEspColours},
        {"ascii ESP-IDF colours, line numbers and time", rfAscii, true, true, kEspColours},
    };
    // A second argument runs only the cases whose name holds it.
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    for (const Case& c : cases) {
        if (!only.isEmpty() && !QByteArray(c.name).contains(only)) continue;
        TGuiEventCost::Instance().Reset();
        const Result r = Flood(c.format, c.lines, c.time, size, c.kind);
        std::printf("%-42s %7.1f MB/s (%.2f of raw), GUI lateness p99 %.1f ms, max %.1f ms\n", c.name,
                    r.bytesPerSec / 1e6, r.bytesPerSec / raw, r.p99LatenessMs, r.maxLatenessMs);
        TGuiEventCost::Instance().Report();
    }
    if (!only.isEmpty()) return 0;
    MillionLines();
    LongLine(1);
    LongLine(4);
    return 0;
}
