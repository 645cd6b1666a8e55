#include "PtyPair.h"
#include "TComUIHandleThread.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "TLogModel.h"

#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QVBoxLayout>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

// The road of received data under load: a device that sends faster than the window can show
// holds the port back instead of filling memory, nothing is lost on the way, and a display
// pass that throws is told in the port's log instead of ending the program.
class TstReceiveRoad : public QObject {
    Q_OBJECT
private slots:
    void floodIsBoundedAndLosesNothing_data();
    void floodIsBoundedAndLosesNothing();
    void displayPassThatThrowsIsTold();
};

namespace {

// Bytes a device writes flat out, from a thread: into a pty's far end or to the one client of
// a loopback listener. Blocks only itself while the port is held.
class TFloodDevice {
public:
    explicit TFloodDevice(bool tcp)
    {
        if (!tcp) return;
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(FListener, 1) == 0 &&
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            FPort = ntohs(a.sin_port);
    }
    ~TFloodDevice()
    {
        if (FThread.joinable()) FThread.join();
        if (FListener >= 0) ::close(FListener);
    }
    QString PortName(const PtyPair& pty) const
    {
        return FListener >= 0 ? u"tcp://127.0.0.1:%1"_s.arg(FPort) : pty.SlavePath();
    }
    void Start(const PtyPair& pty, QByteArray data)
    {
        const int master = pty.MasterFd();
        FThread = std::thread([this, master, data] {
            const bool tcp = FListener >= 0;
            const int fd = tcp ? ::accept(FListener, nullptr, nullptr) : master;
            if (fd < 0) return;
            qint64 done = 0;
            while (done < data.size() && !FStop) {
                const ssize_t n =
                    ::write(fd, data.constData() + done, size_t(std::min<qint64>(65536, data.size() - done)));
                if (n > 0) {
                    done += n;
                    continue;
                }
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 20);
            }
            Written = done;
            if (tcp) {
                // Closed right after the last byte: the port must still read all of it.
                ::shutdown(fd, SHUT_WR);
                char sink[256];
                while (::read(fd, sink, sizeof sink) > 0) {}
                ::close(fd);
            }
        });
    }
    void Stop() { FStop = true; }
    std::atomic<qint64> Written{-1};

private:
    int FListener = -1;
    quint16 FPort = 0;
    std::thread FThread;
    std::atomic<bool> FStop{false};
};

QByteArray Binary(qint64 size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) b[i] = char((i * 31 + i / 4093) & 0xFF);
    return b;
}

QByteArray TextLines(int count)
{
    QByteArray b;
    for (int i = 0; i < count; ++i) b += "line " + QByteArray::number(i) + " of the flood, 温度 23.5°C\n";
    return b;
}

// The bytes shown by hex lines without prefixes or text column ("XX XX ... "); other lines
// (what a network port says of its connection) are passed over.
QByteArray HexShown(const TLogModel& m)
{
    static const QRegularExpression hexLine(u"^([0-9A-F]{2} )+$"_s);
    QByteArray out;
    for (qint64 i = 0; i < m.LineCount(); ++i) {
        const QByteArray line = m.LineUtf8(i);
        if (hexLine.match(QString::fromLatin1(line)).hasMatch()) out += QByteArray::fromHex(line);
    }
    return out;
}

} // namespace

void TstReceiveRoad::floodIsBoundedAndLosesNothing_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("format");
    QTest::newRow("pty, hex") << false << int(rfHex);
    QTest::newRow("tcp, hex") << true << int(rfHex);
    QTest::newRow("pty, text with line numbers") << false << int(rfAscii);
    QTest::newRow("tcp, text with line numbers") << true << int(rfAscii);
}

void TstReceiveRoad::floodIsBoundedAndLosesNothing()
{
    QFETCH(bool, tcp);
    QFETCH(int, format);
    PtyPair pty;
    TFloodDevice device(tcp);
    QWidget window;
    auto* memo = new TLogMemo(&window);
    (new QVBoxLayout(&window))->addWidget(memo);
    window.resize(800, 600);
    window.show();
    const QString portName = device.PortName(pty);
    TCvComPortObj obj(nullptr, u"Virtual Port (%1)"_s.arg(portName));
    const bool text = format == rfAscii;
    obj.CvComPortObjInit2(QString(), portName, br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          format, memo, false, false, text, false, false);
    // A small hand-over, so that a flood of a few megabytes must be held back several times
    // (text is shown faster than hex: a smaller one still).
    const qint64 limit = text ? 4 * 1024 : 32 * 1024;
    obj.SetHandOverLimit(limit);
    obj.Open();
    const int lines = 60000;
    const QByteArray data = text ? TextLines(lines) : Binary(3 << 20);
    device.Start(pty, data);

    qint64 peak = 0;
    QElapsedTimer t;
    t.start();
    const auto shown = [&] {
        peak = std::max(peak, obj.HandOverBytes());
        return obj.FComReceiveCount.load() == data.size() && obj.UIHandleThread()->Suspended() &&
               !obj.ReceiveHeld();
    };
    while (!shown() && t.elapsed() < 120000) {
        // A window busy with something else now and then: a network port then finds far
        // more waiting than the hand-over takes.
        QThread::msleep(20);
        QTest::qWait(20);
    }
    obj.FlushUiQueue();
    device.Stop();
    // A network port reads far more at once than a pty; with hex lines, slower to make than
    // text, it surely finds the hand-over full.
    if (tcp && !text) QVERIFY2(obj.HoldCount() > 0, "the flood never filled the hand-over");
    // Never more than the limit and what one receive event reads (stored as text: a little more).
    QVERIFY2(peak <= limit + 2 * TCvComPortObj::kReadPerEvent, qPrintable(QString::number(peak)));
    QCOMPARE(obj.FComReceiveCount.load(), qint64(data.size()));
    // Every line sent, in order, each with its own number. The network port's lines about
    // its connection come in between, and a line they interrupt goes on after them.
    const TLogModel& m = memo->Model();
    if (text) {
        QStringList shownLines;
        bool closed = false;
        for (qint64 i = 0; i < m.LineCount(); ++i) {
            const QString line = m.Line(i);
            const QString prefix = GetLineNumberText(i);
            QVERIFY2(line.startsWith(prefix), qPrintable(line));
            const QString content = line.mid(prefix.size());
            // What the port says of its end comes after everything it received before.
            closed = closed || content.startsWith(u"Device "_s);
            QVERIFY2(!closed || !content.startsWith(u"line "_s), qPrintable(line));
            if (content.startsWith(u"line "_s)) shownLines << content;
            else if (!shownLines.isEmpty() && !shownLines.last().endsWith(u"°C"_s))
                shownLines.last() += content;
        }
        const QList<QByteArray> sent = data.split('\n');
        for (int k = 0; k < std::min<int>(lines, int(shownLines.size())); ++k)
            QCOMPARE(shownLines[k], QString::fromUtf8(sent[k]));
        QCOMPARE(shownLines.size(), lines);
    } else {
        QCOMPARE(obj.FComProcessedCount.load(), qint64(data.size()));
        QVERIFY(HexShown(m) == data);
    }
}

namespace {

// A host for the display worker alone: bytes to show, and the changes it makes. While
// `failing`, reading the display settings throws, as a pass running out of memory would.
class TThrowingHost : public TComUIHandleHost {
public:
    std::atomic<bool> failing{true};
    std::atomic<int> cleared{0};
    QByteArray bytes;
    std::mutex opsLock;
    std::vector<TUiOp> ops;

    TDisplaySettings DisplaySettings() const override
    {
        if (failing) throw std::runtime_error("out of room");
        TDisplaySettings s;
        s.ReceiveFormat = rfHex;
        s.HexWithString = false;
        return s;
    }
    TTextEncoding DisplayEncoding() const override { return TTextEncoding::Utf8; }
    bool ReceiveInProgress() const override { return false; }
    bool WaitForUiQueue(std::size_t, std::size_t, int) override { return false; }
    void WakeUiQueueWaiters() override {}
    void EnqueueUi(TUiOp&& op) override
    {
        std::lock_guard lk(opsLock);
        ops.push_back(std::move(op));
    }
    void EnqueueUi(std::vector<TUiOp>& more) override
    {
        std::lock_guard lk(opsLock);
        for (auto& op : more) ops.push_back(std::move(op));
        more.clear();
    }
    void AddProcessed(qint64) override {}
    void ClearReceivedLocked(int) override
    {
        bytes.clear();
        stamps.clear();
        ++cleared;
        if (worker) worker->BuffersClearedLocked();
    }
    const TLogModel& TextStoreLocked() const override { return store; }
    const std::vector<TLineStamp>& LineStampsLocked() const override { return lineStamps; }
    const QByteArray& ReceivedBytesLocked() const override { return bytes; }
    const std::vector<TChunkStamp>& ChunkStampsLocked() const override { return stamps; }

    QStringList Texts()
    {
        std::lock_guard lk(opsLock);
        QStringList out;
        for (const TUiOp& op : ops) out << (op.kind == TUiOp::Lines ? QString::fromUtf8(op.lines) : op.text);
        return out;
    }
    TComUIHandleThread* worker = nullptr;
    TLogModel store;
    std::vector<TLineStamp> lineStamps;
    std::vector<TChunkStamp> stamps;
};

} // namespace

void TstReceiveRoad::displayPassThatThrowsIsTold()
{
    TThrowingHost host;
    {
        std::lock_guard lk(ReceiveLock());
        host.bytes = QByteArray("\x01\x02\x03", 3);
        host.stamps.push_back({0, SteadyMs(), QDateTime::currentMSecsSinceEpoch()});
    }
    TComUIHandleThread worker(&host);
    host.worker = &worker;
    worker.Resume();
    // Told once, and after a few passes in a row what waited is given up, with a line saying so.
    QTRY_VERIFY(worker.Suspended() && host.cleared.load() == 1);
    QCOMPARE(
        host.Texts(),
        QStringList({u"Showing received data failed: out of room"_s,
                     u"3 received bytes waiting to be shown were given up after %1 failed attempts."_s.arg(
                         TComUIHandleThread::kFailuresBeforeDrop)}));
    // The worker goes on with what comes next.
    host.failing = false;
    {
        std::lock_guard lk(ReceiveLock());
        host.bytes = QByteArray("\x0A\x0B", 2);
        host.stamps.push_back({0, SteadyMs(), QDateTime::currentMSecsSinceEpoch()});
    }
    worker.Resume();
    QTRY_VERIFY(host.Texts().size() == 3);
    QCOMPARE(host.Texts().last(), u"0A 0B "_s);
    worker.Terminate();
}

QTEST_MAIN(TstReceiveRoad)
#include "tst_receiveroad.moc"
