#include "NetRig.h"

#include <QSignalSpy>
#include <QTimer>

#include <cerrno>

using namespace Qt::Literals::StringLiterals;

// The raw TCP kinds, client and server, against a QTcpServer/QTcpSocket peer.
class TstTcpPort : public QObject {
    Q_OBJECT
private slots:
    void portNames_data();
    void portNames();
    void bothWays_data();
    void bothWays();
    void serverTakesOneClientAtATime();
    void serverListensOnLoopbackOnly();
    void openNeverWaits();
    void errorsReported_data();
    void errorsReported();
    void reconnectRedials();
    void peerThatStopsReadingNeverBlocks();
};

void TstTcpPort::portNames_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("fullName"); // empty: not a network port
    QTest::newRow("client") << u"tcp://example.org:5000"_s << u"TCP (example.org:5000)"_s;
    QTest::newRow("server on loopback") << u"tcp-server://127.0.0.1:23"_s << u"TCP server (:23)"_s;
    QTest::newRow("rfc 2217 on IPv6") << u"rfc2217://[::1]:2217"_s << u"RFC 2217 ([::1]:2217)"_s;
    QTest::newRow("a tty") << u"ttyUSB0"_s << QString();
    QTest::newRow("no port") << u"tcp://host"_s << QString();
    QTest::newRow("port 0") << u"tcp://host:0"_s << QString();
    QTest::newRow("port too big") << u"tcp://host:65536"_s << QString();
    QTest::newRow("blank in host") << u"tcp://ho st:1"_s << QString();
    QTest::newRow("path in host") << u"tcp://a/b:1"_s << QString();
    QTest::newRow("IPv6 without brackets") << u"tcp://::1:5000"_s << QString();
    QTest::newRow("no host") << u"tcp://:5000"_s << QString();
}

void TstTcpPort::portNames()
{
    QFETCH(QString, portName);
    QFETCH(QString, fullName);
    const TNetworkAddress a = TNetworkAddress::Parse(portName);
    QCOMPARE(a.FullName(), fullName);
    QCOMPARE(IsNetworkPortName(portName), !fullName.isEmpty());
    if (!fullName.isEmpty()) QCOMPARE(a.PortName(), portName);
}

void TstTcpPort::bothWays_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("client") << false;
    QTest::newRow("server") << true;
}

void TstTcpPort::bothWays()
{
    QFETCH(bool, server);
    QTcpServer listener;
    quint16 port = 0;
    if (!server) {
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        port = listener.serverPort();
    } else {
        port = FreePort();
    }
    NetObj net((server ? u"tcp-server://127.0.0.1:%1"_s : u"tcp://127.0.0.1:%1"_s).arg(port));
    net.Collect();
    net.obj->Open();
    QVERIFY(net.obj->Connected());

    std::unique_ptr<QTcpSocket> peer;
    if (server) {
        peer = std::make_unique<QTcpSocket>();
        peer->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(peer->waitForConnected(5000));
        QTRY_VERIFY(net.Has(u"Client 127.0.0.1:"_s));
    } else {
        QTRY_VERIFY(listener.hasPendingConnections());
        peer.reset(listener.nextPendingConnection());
        QTRY_VERIFY(net.Has(u"Connected to 127.0.0.1:%1."_s.arg(port)));
    }

    const QByteArray down = AllBytes(64);
    peer->write(down);
    QTRY_COMPARE(net.received.size(), down.size());
    QCOMPARE(net.received, down);

    QByteArray up = AllBytes(64);
    std::reverse(up.begin(), up.end());
    qint64 written = -1;
    int error = -1;
    net.obj->WriteAsync(up, [&](qint64 w, int e) {
        written = w;
        error = e;
    });
    QCOMPARE(ReadPeer(peer.get(), up.size()), up);
    QTRY_COMPARE(written, qint64(up.size()));
    QCOMPARE(error, 0);
    QCOMPARE(net.obj->FComSentCount.load(), qint64(up.size()));
    // The modem panel learns the link has no modem lines.
    TModemStatus s;
    QCOMPARE(net.obj->GetModemStatus(s), ENOTTY);
    QCOMPARE(net.obj->ModemSupport(), TCustomComPort::TModemSupport::Unsupported);
}

void TstTcpPort::serverTakesOneClientAtATime()
{
    const quint16 port = FreePort();
    NetObj net(u"tcp-server://127.0.0.1:%1"_s.arg(port));
    net.Collect();
    net.obj->Open();
    QTRY_VERIFY(net.Has(u"Listening on 127.0.0.1:%1"_s.arg(port)));

    QTcpSocket first;
    first.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(first.waitForConnected(5000));
    QTRY_COMPARE(net.Count(u"Client 127.0.0.1:%1 connected."_s.arg(first.localPort())), 1);

    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    // The kernel completes the handshake; the port then says no.
    QVERIFY(second.waitForConnected(5000));
    const quint16 secondPort = second.localPort();
    QTRY_VERIFY(net.Has(
        u"Refused a connection from 127.0.0.1:%1: client 127.0.0.1:%2 is connected already."_s.arg(secondPort)
            .arg(first.localPort())));
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);

    // The first client is still the one served.
    first.write("still here");
    QTRY_COMPARE(net.received, QByteArray("still here"));

    // Once it leaves, the next one is taken.
    const quint16 firstPort = first.localPort();
    first.disconnectFromHost();
    QTRY_VERIFY(net.Has(u"Client 127.0.0.1:%1 disconnected; waiting for the next one."_s.arg(firstPort)));
    QTcpSocket third;
    third.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(third.waitForConnected(5000));
    QTRY_VERIFY(net.Has(u"Client 127.0.0.1:%1 connected."_s.arg(third.localPort())));
    third.write("next");
    QTRY_COMPARE(net.received, QByteArray("still herenext"));
    QVERIFY(net.obj->Connected());
}

void TstTcpPort::serverListensOnLoopbackOnly()
{
    // The default bind address is loopback; its name in the device list says so by the empty host.
    const TNetworkAddress a{TNetworkKind::TcpServer, TNetworkAddress::LoopbackHost(), 5000};
    QCOMPARE(a.FullName(), u"TCP server (:5000)"_s);
    QCOMPARE(TNetworkAddress::Parse(a.PortName()), a);
    const TNetworkAddress any{TNetworkKind::TcpServer, u"0.0.0.0"_s, 5000};
    QCOMPARE(any.FullName(), u"TCP server (0.0.0.0:5000)"_s);
    // A host name is no address to listen on.
    NetObj net(u"tcp-server://localhost:%1"_s.arg(FreePort()));
    QString hint, cause;
    QVERIFY(!net.obj->TryOpen(&hint, &cause));
    QVERIFY(net.Has(u"the address to listen on must be an IP address"_s));
    // Nor is a port that is taken.
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    NetObj busy(u"tcp-server://127.0.0.1:%1"_s.arg(taken.serverPort()));
    QVERIFY(!busy.obj->TryOpen(&hint, &cause));
    QVERIFY2(cause.contains(QString::number(EADDRINUSE)), qPrintable(cause));
}

void TstTcpPort::openNeverWaits()
{
    // The name is looked up and the connection made in the event loop: Open returns first.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    NetObj net(u"tcp://localhost:%1"_s.arg(listener.serverPort()));
    net.obj->Open();
    QVERIFY(net.obj->Connected());
    QVERIFY(net.Has(u"Connecting to localhost:%1 ..."_s.arg(listener.serverPort())));
    QVERIFY(!net.Has(u"Connected to"_s));
    QTRY_VERIFY(net.Has(u"Connected to localhost:%1."_s.arg(listener.serverPort())));
}

void TstTcpPort::errorsReported_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("line");
    QTest::newRow("refused") << u"refused"_s << u"Can not connect to %1: the connection was refused"_s;
    QTest::newRow("name not resolved")
        << u"unresolved"_s << u"Can not connect to %1: the host name could not be resolved"_s;
    QTest::newRow("dropped") << u"dropped"_s << u"Connection to %1 lost: the peer closed the connection"_s;
}

void TstTcpPort::errorsReported()
{
    QFETCH(QString, kind);
    QFETCH(QString, line);
    QTcpServer listener;
    QString hostPort;
    if (kind == u"refused"_s) {
        hostPort = u"127.0.0.1:%1"_s.arg(FreePort());
    } else if (kind == u"unresolved"_s) {
        // .invalid never resolves (RFC 2606).
        hostPort = u"no-such-host.invalid:5000"_s;
    } else {
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        hostPort = u"127.0.0.1:%1"_s.arg(listener.serverPort());
    }
    NetObj net(u"tcp://"_s + hostPort);
    QSignalSpy lost(net.obj.get(), &TCustomComPort::DeviceLost);
    net.obj->Open();
    if (kind == u"dropped"_s) {
        QTRY_VERIFY(listener.hasPendingConnections());
        std::unique_ptr<QTcpSocket> peer(listener.nextPendingConnection());
        QTRY_VERIFY(net.Has(u"Connected to"_s));
        peer->close();
    }
    QTRY_VERIFY_WITH_TIMEOUT(net.Has(line.arg(hostPort)), 15000);
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(!net.obj->Connected());
    // Nothing dials again without the reconnect option.
    QVERIFY(!net.Has(u"again in"_s));
}

void TstTcpPort::reconnectRedials()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    const quint16 port = listener.serverPort();
    NetObj net(u"tcp://127.0.0.1:%1"_s.arg(port));
    net.Collect();
    net.obj->SetReconnect(true);
    QSignalSpy lost(net.obj.get(), &TCustomComPort::DeviceLost);
    net.obj->Open();
    QTRY_VERIFY(listener.hasPendingConnections());
    std::unique_ptr<QTcpSocket> peer(listener.nextPendingConnection());
    QTRY_VERIFY(net.Has(u"Connected to"_s));

    // Dropped: dialled again, and the data flows over the new connection.
    peer->close();
    QTRY_VERIFY(net.Has(u"Connection to 127.0.0.1:%1 lost: the peer closed the connection"_s.arg(port)));
    QVERIFY(net.Has(u"Dialling 127.0.0.1:%1 again in 1 s."_s.arg(port)));
    QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), 10000);
    peer.reset(listener.nextPendingConnection());
    QTRY_COMPARE(net.Count(u"Connected to"_s), 2);
    peer->write(AllBytes());
    QTRY_COMPARE(net.received, AllBytes());

    // The peer is gone for good: the pauses between dials grow.
    listener.close();
    peer->close();
    QTRY_VERIFY_WITH_TIMEOUT(net.Has(u"Dialling 127.0.0.1:%1 again in 2 s."_s.arg(port)), 15000);
    QVERIFY(net.Has(u"Can not connect to 127.0.0.1:%1: the connection was refused"_s.arg(port)));
    // The port stays open all along; closing it ends the dialling.
    QVERIFY(net.obj->Connected());
    QCOMPARE(lost.count(), 0);
    net.obj->Close();
    const int lines = net.Lines().size();
    QTest::qWait(2500);
    QCOMPARE(net.Lines().size(), lines);
}

void TstTcpPort::peerThatStopsReadingNeverBlocks()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    NetObj net(u"tcp://127.0.0.1:%1"_s.arg(listener.serverPort()));
    TComTimeouts t;
    t.FWriteTotalC = 500;
    t.FWriteTotalM = 0;
    net.obj->SetTimeouts(t);
    net.obj->Open();
    QTRY_VERIFY(listener.hasPendingConnections());
    std::unique_ptr<QTcpSocket> peer(listener.nextPendingConnection());
    // Qt reads no more than this for the peer, so the kernel's buffers fill.
    peer->setReadBufferSize(4096);
    QTRY_VERIFY(net.Has(u"Connected to"_s));

    QByteArray bytes = AllBytes(256 * 1024); // 64 MiB: more than loopback buffers hold
    bool done = false;
    qint64 written = -1;
    int error = -1;
    net.obj->WriteAsync(bytes, [&](qint64 w, int e) {
        done = true;
        written = w;
        error = e;
    });
    QVERIFY(!done);
    // The event loop turns while the write waits.
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    QTRY_VERIFY(ticked);
    QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
    QCOMPARE(error, ETIMEDOUT);
    QVERIFY(written > 0 && written < bytes.size());
    QCOMPARE(net.obj->FComSentCount.load(), written);
    // What the port counted as written is what the peer gets, and nothing more.
    peer->setReadBufferSize(0);
    const QByteArray got = ReadPeer(peer.get(), written, 30000);
    QCOMPARE(got.size(), written);
    QVERIFY(got == bytes.left(written));
    QTest::qWait(50);
    QCOMPARE(peer->bytesAvailable(), 0);
}

QTEST_MAIN(TstTcpPort)
#include "tst_tcpport.moc"
