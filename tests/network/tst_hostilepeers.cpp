// Broken and hostile peers on loopback: whatever a server sends, or refuses to read, memory
// stays bounded, the data it sends among the junk arrives, the log says a repeated condition
// once, the link survives being stopped from any signal it raises, and what the port counted
// as written reaches a peer that reads it after the close.

#include "NetRig.h"
#include "TNetworkLink.h"

#include <QFile>
#include <QSignalSpy>

#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace {

enum : quint8 { SE = 240, SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255 };

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values) b.append(char(v));
    return b;
}
QByteArray Cmd(quint8 verb, quint8 option)
{
    return Bytes({IAC, verb, option});
}
QByteArray Sub(quint8 command, const QByteArray& value)
{
    return Bytes({IAC, SB, 44, command}) + value + Bytes({IAC, SE});
}

// A sanitizer keeps freed memory in quarantine: resident memory then tells nothing.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kRssMeasures = false;
#else
constexpr bool kRssMeasures = true;
#endif

// Resident memory of this process.
qint64 RssBytes()
{
    QFile f(u"/proc/self/statm"_s);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : 0;
}

// A server that accepts one client and sends it a script: head, unit `times` times over,
// tail. It keeps little of the flood in its own buffer (so that what grows is the client),
// and either reads everything the client sends or nothing at all.
struct FloodServer {
    QTcpServer listener;
    std::unique_ptr<QTcpSocket> peer;
    QByteArray head, unit, tail;
    qint64 times = 0;
    qint64 sentUnits = 0;
    bool reads = true;
    QByteArray got; // the first 64 KiB of what the client sent
    qint64 gotBytes = 0;

    FloodServer() { listener.listen(QHostAddress::LocalHost, 0); }
    QString PortName() const { return u"rfc2217://127.0.0.1:%1"_s.arg(listener.serverPort()); }
    bool Accept()
    {
        if (!QTest::qWaitFor([&] { return listener.hasPendingConnections(); }, 10000)) return false;
        peer.reset(listener.nextPendingConnection());
        if (reads) {
            QObject::connect(peer.get(), &QIODevice::readyRead, [this] {
                const QByteArray b = peer->readAll();
                gotBytes += b.size();
                if (got.size() < 65536) got += b.left(65536 - got.size());
            });
        } else {
            // Qt stops reading at this; the kernel's buffers then hold the client back.
            peer->setReadBufferSize(1);
        }
        QObject::connect(peer.get(), &QIODevice::bytesWritten, [this] { Pump(); });
        peer->write(head);
        Pump();
        return true;
    }
    void Pump()
    {
        if (!peer) return;
        QByteArray chunk;
        while (sentUnits < times && peer->bytesToWrite() + chunk.size() < 128 * 1024) {
            chunk += unit;
            ++sentUnits;
        }
        if (!chunk.isEmpty()) peer->write(chunk);
        if (sentUnits == times && !tail.isNull()) {
            peer->write(tail);
            tail = QByteArray();
        }
    }
};

} // namespace

class TstHostilePeers : public QObject {
    Q_OBJECT
private slots:
    void floods_data();
    void floods();
    void ownBytesAreBounded();
    void stoppedFromItsOwnSignals_data();
    void stoppedFromItsOwnSignals();
    void bytesCountedAsWrittenReachThePeer();
    void bytesNotTakenAtCloseAreTold();
};

void TstHostilePeers::floods_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<qint64>("times");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<bool>("reads");
    QTest::addColumn<QByteArray>("want");       // the data the port must receive
    QTest::addColumn<QStringList>("sayOnce");   // lines the log holds exactly once
    QTest::addColumn<QByteArray>("wantAnswer"); // bytes the client must send back (empty: none)
    QTest::addColumn<qint64>("maxAnswerBytes"); // what the client may send back at most
    const QByteArray offer = Cmd(WILL, 0) + Cmd(WILL, 3) + Cmd(WILL, 44) + Cmd(DO, 0) + Cmd(DO, 3);
    const QString chatty = u"keeps asking for Telnet options"_s;
    const qint64 answers = offer.size() + 4096;

    // 16 MiB of one option asked for again and again.
    QTest::newRow("WILL flood, server reads")
        << QByteArray("head") << Cmd(WILL, 200) << qint64(16 << 20) / 3 << QByteArray("tail") << true
        << QByteArray("headtail") << QStringList{chatty} << Cmd(DONT, 200) << answers;
    QTest::newRow("WILL flood, server never reads")
        << QByteArray("head") << Cmd(WILL, 200) << qint64(16 << 20) / 3 << QByteArray("tail") << false
        << QByteArray("headtail") << QStringList{chatty} << QByteArray() << answers;
    // Every option asked for both ways, over and over.
    QByteArray every;
    for (int o = 0; o < 256; ++o) every += Cmd(WILL, quint8(o)) + Cmd(DO, quint8(o));
    QTest::newRow("every option, server never reads")
        << QByteArray("head") << every << qint64(16 << 20) / every.size() << QByteArray("tail") << false
        << QByteArray("headtail") << QStringList{chatty} << QByteArray() << qint64(256 * 1024);
    // COM port control switched on and off: each time on, the line settings would go again.
    QTest::newRow("DO/DONT flap") << QByteArray("head") << Cmd(DO, 44) + Cmd(DONT, 44) << qint64(200000)
                                  << QByteArray("tail") << true << QByteArray("headtail")
                                  << QStringList{u"does not take COM port control"_s, chatty} << Cmd(WONT, 44)
                                  << answers;
    // A subnegotiation that never ends: given up after its bound, the rest is data.
    const qint64 many = 10 << 20;
    QTest::newRow("endless subnegotiation")
        << Bytes({IAC, SB, 44, 107}) << QByteArray("a") << many << QByteArray("tail") << true
        << QByteArray(many - (TRfc2217Link::kMaxSubBytes - 2), 'a') + "tail"
        << QStringList{u"subnegotiation of more than"_s} << QByteArray() << answers;
    // A command inside a subnegotiation is taken as a command; its option byte is no data.
    QTest::newRow("command inside a subnegotiation")
        << Bytes({IAC, SB, 44, 107, 10, IAC, WILL, 1}) + "x" << QByteArray() << qint64(0)
        << QByteArray("tail") << true << QByteArray("xtail") << QStringList() << Cmd(DONT, 1) << answers;
}

void TstHostilePeers::floods()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, unit);
    QFETCH(qint64, times);
    QFETCH(QByteArray, tail);
    QFETCH(bool, reads);
    QFETCH(QByteArray, want);
    QFETCH(QStringList, sayOnce);
    QFETCH(QByteArray, wantAnswer);
    QFETCH(qint64, maxAnswerBytes);

    FloodServer server;
    server.head = head;
    server.unit = unit;
    server.times = times;
    server.tail = tail;
    server.reads = reads;
    NetObj net(server.PortName());
    net.Collect();
    const qint64 rssBefore = RssBytes();
    net.obj->Open();
    QVERIFY(server.Accept());

    QTRY_VERIFY_WITH_TIMEOUT(net.received.size() >= want.size(), 60000);
    QCOMPARE(net.received.size(), want.size());
    QVERIFY(net.received == want);
    QVERIFY(net.obj->Connected());
    // What the client holds for the server stays small whatever the server sends.
    auto* link = dynamic_cast<TSocketLink*>(net.obj->Link());
    QVERIFY(link);
    QVERIFY2(link->OwnWaiting() <= TSocketLink::kOwnCap, qPrintable(QString::number(link->OwnWaiting())));
    // Less what the test keeps of the data, and the buffers that grew to hold it (which the
    // allocator may keep).
    const qint64 grown = RssBytes() - rssBefore - 2 * net.received.capacity();
    if (kRssMeasures) QVERIFY2(grown < 8 << 20, qPrintable(u"grew by %1 bytes"_s.arg(grown)));
    if (reads) {
        QTest::qWait(100);
        QVERIFY2(server.gotBytes <= maxAnswerBytes, qPrintable(QString::number(server.gotBytes)));
        if (!wantAnswer.isEmpty()) QVERIFY(server.got.contains(wantAnswer));
    }
    for (const QString& line : sayOnce) QCOMPARE(net.Count(line), 1);
    if (sayOnce.isEmpty()) QCOMPARE(net.Count(u"The server at"_s), 0);
}

void TstHostilePeers::ownBytesAreBounded()
{
    // A server that never reads: the data fills the system's buffers, then every change of
    // the line settings is a command that waits in the client. Beyond the bound the client
    // gives up on the server, says so once, and closes the port.
    FloodServer server;
    server.reads = false;
    NetObj net(server.PortName());
    net.Collect();
    TComTimeouts t;
    t.FWriteTotalC = 600000;
    net.obj->SetTimeouts(t);
    QSignalSpy lost(net.obj.get(), &TCustomComPort::DeviceLost);
    net.obj->Open();
    QVERIFY(server.Accept());
    server.peer->write(Cmd(DO, 44));
    QTRY_VERIFY(dynamic_cast<TRfc2217Link*>(net.obj->Link())->ComPortControl());
    net.obj->WriteAsync(AllBytes(64 * 1024), {});
    auto* link = dynamic_cast<TSocketLink*>(net.obj->Link());
    // The system takes data until its buffers are full; the rest waits in the port's queue.
    qint64 pending = -1;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const qint64 now = net.obj->PendingWriteBytes();
            const bool still = now == pending;
            pending = now;
            QTest::qWait(100);
            return still && now > 0;
        }(),
        20000);
    int changes = 0;
    while (net.obj->Connected() && changes < 100000) {
        net.obj->SetBaudRate(changes++ % 2 ? br9600 : br19200);
        QVERIFY(!net.obj->Link() || link->OwnWaiting() <= TSocketLink::kOwnCap);
    }
    QVERIFY(changes > 1000);
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(!net.obj->Connected());
    QCOMPARE(net.Count(u"does not read what is sent to it"_s), 1);
}

void TstHostilePeers::stoppedFromItsOwnSignals_data()
{
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QByteArray>("script"); // what the server sends; the handler closes on the way
    const QByteArray more = QByteArray(4096, 'z');
    // Flow control resumed: Writable is raised while the link reads.
    QTest::newRow("Writable while reading") << u"Writable"_s << Sub(108, {}) + "a" + Sub(109, {}) + more;
    // A log line while reading.
    QTest::newRow("Message while reading") << u"Message"_s << "a" + Cmd(DONT, 44) + more;
    QTest::newRow("Readable") << u"Readable"_s << "a" + more;
    QTest::newRow("Message when connected") << u"Connected"_s << "a" + more;
}

void TstHostilePeers::stoppedFromItsOwnSignals()
{
    QFETCH(QString, signal);
    QFETCH(QByteArray, script);
    FloodServer server;
    NetObj net(server.PortName());
    net.Collect();
    int closes = 0;
    const auto close = [&] {
        ++closes;
        net.obj->Close();
    };
    net.obj->Open();
    TPortLink* link = net.obj->Link();
    QVERIFY(link);
    if (signal == u"Connected"_s)
        QObject::connect(link, &TPortLink::Message, [&](const QString& text) {
            if (text.startsWith(u"Connected to"_s)) close();
        });
    QVERIFY(server.Accept());
    if (signal != u"Connected"_s) {
        QTRY_VERIFY(net.Has(u"Connected to"_s));
        // Only the one raised inside the read, after the "a" before it was taken.
        if (signal == u"Writable"_s)
            QObject::connect(link, &TPortLink::Writable, [&] {
                if (link->Available() > 0) close();
            });
        if (signal == u"Message"_s)
            QObject::connect(link, &TPortLink::Message, [&](const QString& text) {
                if (text.contains(u"does not take"_s)) close();
            });
        if (signal == u"Readable"_s)
            net.obj->SetOnRxChar([&](TCustomComPort* p, int count) {
                QByteArray b(count, Qt::Uninitialized);
                b.truncate(p->Read(b.data(), count));
                net.received += b;
                close();
            });
        // In one piece, so the link is still reading it when the handler closes the port.
        server.peer->write(script);
    }
    QTRY_VERIFY(closes > 0);
    QTest::qWait(200);
    QVERIFY(!net.obj->Connected());
    QCOMPARE(closes, 1);

    // The port opens again on a new connection and works.
    net.Collect();
    net.received.clear();
    FloodServer again;
    net.obj->SetPort(again.PortName());
    net.obj->Open();
    QVERIFY(again.Accept());
    again.peer->write("again");
    QTRY_COMPARE(net.received, QByteArray("again"));
}

void TstHostilePeers::bytesCountedAsWrittenReachThePeer()
{
    // A slow reader: the write stops when the system's buffers are full, and the port is
    // closed before it ends. What the write reported as written is what the peer then gets.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    NetObj net(u"tcp://127.0.0.1:%1"_s.arg(listener.serverPort()));
    TComTimeouts t;
    t.FWriteTotalC = 600000;
    net.obj->SetTimeouts(t);
    net.obj->Open();
    QTRY_VERIFY(listener.hasPendingConnections());
    std::unique_ptr<QTcpSocket> peer(listener.nextPendingConnection());
    peer->setReadBufferSize(4096);
    QTRY_VERIFY(net.Has(u"Connected to"_s));

    const QByteArray bytes = AllBytes(256 * 1024); // 64 MiB: more than loopback buffers hold
    qint64 written = -1;
    int error = -1;
    net.obj->WriteAsync(bytes, [&](qint64 w, int e) {
        written = w;
        error = e;
    });
    QTRY_VERIFY(net.obj->FComSentCount.load() > 0);
    QTest::qWait(300);
    net.obj->Close();
    QCOMPARE(error, ECANCELED);
    QVERIFY(written > 0 && written < bytes.size());
    QCOMPARE(net.obj->FComSentCount.load(), written);

    // Read at once, the peer gets all of it and the stream's end; a machine slow enough that
    // the peer takes longer than the grace time has the log say how many bytes did not go.
    const QByteArray got = ReadPeerToEnd(peer.get());
    QCOMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    const qint64 notSent = NotSentTold(net.Lines());
    QVERIFY(got == bytes.left(got.size()));
    QVERIFY2(
        got.size() <= written && got.size() + notSent >= written,
        qPrintable(u"%1 written, %2 taken, %3 told as not sent"_s.arg(written).arg(got.size()).arg(notSent)));
    if (notSent == 0) QCOMPARE(got.size(), written);
}

void TstHostilePeers::bytesNotTakenAtCloseAreTold()
{
    // The peer takes nothing after the close: once the grace time is over, the log says how
    // many bytes did not go, and the connection is cut.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    NetObj net(u"tcp://127.0.0.1:%1"_s.arg(listener.serverPort()));
    TComTimeouts t;
    t.FWriteTotalC = 600000;
    net.obj->SetTimeouts(t);
    net.obj->Open();
    QTRY_VERIFY(listener.hasPendingConnections());
    std::unique_ptr<QTcpSocket> peer(listener.nextPendingConnection());
    peer->setReadBufferSize(1);
    QTRY_VERIFY(net.Has(u"Connected to"_s));
    net.obj->WriteAsync(AllBytes(64 * 1024), {});
    QTRY_VERIFY(net.obj->FComSentCount.load() > 0);
    QTest::qWait(300);
    net.obj->Close();
    QVERIFY(!net.Has(u"were not sent"_s));
    QTRY_VERIFY_WITH_TIMEOUT(
        net.Has(u"were not sent to 127.0.0.1:%1: it did not take them within 2 s of the close."_s.arg(
            listener.serverPort())),
        10000);
    QCOMPARE(net.Count(u"were not sent"_s), 1);
}

QTEST_MAIN(TstHostilePeers)
#include "tst_hostilepeers.moc"
