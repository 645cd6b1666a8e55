#include "NetRig.h"
#include "PtyPair.h"
#include "SerialLine.h"
#include "TNetworkLink.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <sys/ioctl.h>

using namespace Qt::Literals::StringLiterals;

// RFC 2217 ports: the Telnet side against a scripted server, then Debian's ser2net over a pty.
class TstRfc2217 : public QObject {
    Q_OBJECT
private slots:
    void negotiatesAndSetsTheLine();
    void commandsNeverShowAsData();
    void serverWithoutComPortControl();
    void breakAsSetControl_data();
    void breakAsSetControl();
    void throughSer2net();
};

namespace {

enum : quint8 { SE = 240, NOP = 241, SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255 };

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
QByteArray Doubled(const QByteArray& in)
{
    QByteArray out;
    for (char c : in) {
        out.append(c);
        if (quint8(c) == IAC) out.append(c);
    }
    return out;
}

// A server that accepts one client and says yes to what the client offers.
struct ScriptedServer {
    QTcpServer listener;
    std::unique_ptr<QTcpSocket> peer;
    ScriptedServer() { listener.listen(QHostAddress::LocalHost, 0); }
    QString PortName() const { return u"rfc2217://127.0.0.1:%1"_s.arg(listener.serverPort()); }
    bool Accept()
    {
        if (!QTest::qWaitFor([&] { return listener.hasPendingConnections(); }, 5000)) return false;
        peer.reset(listener.nextPendingConnection());
        return true;
    }
    // Reads exactly what is expected (or what came until the time-out).
    QByteArray Expect(qint64 count) { return ReadPeer(peer.get(), count, 5000); }
};

} // namespace

void TstRfc2217::negotiatesAndSetsTheLine()
{
    ScriptedServer server;
    NetObj net(server.PortName());
    net.Collect();
    net.obj->SetBaudRate(br115200);
    net.obj->SetParityBits(prEven);
    net.obj->SetDataBits(dbSeven);
    net.obj->SetStopBits(sbTwoStopBits);
    net.obj->SetFlowControl(fcSoftware);
    net.obj->SetDTR(true);
    net.obj->SetRTS(false);
    net.obj->Open();
    QVERIFY(server.Accept());

    // The client offers binary, no go-ahead and COM port control, and asks for the first two.
    const QByteArray offer = Cmd(WILL, 0) + Cmd(WILL, 3) + Cmd(WILL, 44) + Cmd(DO, 0) + Cmd(DO, 3);
    QCOMPARE(server.Expect(offer.size()), offer);
    // Nothing of the line goes before the server takes COM port control.
    QTest::qWait(50);
    QCOMPARE(server.peer->bytesAvailable(), 0);

    server.peer->write(Cmd(DO, 0) + Cmd(WILL, 0) + Cmd(DO, 3) + Cmd(WILL, 3) + Cmd(DO, 44));
    // 115200 in network order, 7 bits, even (3), 2 stop bits, XON/XOFF (2), DTR on (8), RTS off (12).
    const QByteArray line = Sub(1, QByteArray::fromHex("0001c200")) + Sub(2, "\x07") + Sub(3, "\x03") +
                            Sub(4, "\x02") + Sub(5, "\x02") + Sub(5, "\x08") + Sub(5, "\x0c");
    QCOMPARE(server.Expect(line.size()), line);
    // Answers to answers would loop: none come.
    QTest::qWait(50);
    QCOMPARE(server.peer->bytesAvailable(), 0);

    // While open, only what changes goes out.
    net.obj->SetBaudRate(br9600);
    const QByteArray baud = Sub(1, QByteArray::fromHex("00002580"));
    QCOMPARE(server.Expect(baud.size()), baud);
    QVERIFY(net.obj->SetRTS(true));
    QCOMPARE(server.Expect(7), Sub(5, "\x0b"));

    // The server's modem state reaches the modem lights: CTS and CD on.
    TModemStatus s;
    QCOMPARE(net.obj->GetModemStatus(s), 0);
    QVERIFY(!s.CTS && !s.CD);
    server.peer->write(Sub(107, "\x90"));
    QTRY_VERIFY(net.obj->GetModemStatus(s) == 0 && s.CTS && s.CD);
    QVERIFY(!s.DSR && !s.RI);
    QCOMPARE(net.obj->ModemSupport(), TCustomComPort::TModemSupport::Supported);

    // Every byte value goes out, 0xFF doubled.
    const QByteArray all = AllBytes(8);
    qint64 written = -1;
    net.obj->WriteAsync(all, [&](qint64 w, int) { written = w; });
    QCOMPARE(server.Expect(Doubled(all).size()), Doubled(all));
    QTRY_COMPARE(written, qint64(all.size()));
    QCOMPARE(net.obj->FComSentCount.load(), qint64(all.size()));

    // The server asks to hold the data: nothing goes until it resumes.
    // (The modem state after it tells when the client has read it.)
    server.peer->write(Sub(108, QByteArray()) + Sub(107, "\x20"));
    QTRY_VERIFY(net.obj->GetModemStatus(s) == 0 && s.DSR);
    net.obj->WriteAsync("held", {});
    QTest::qWait(100);
    QCOMPARE(server.peer->bytesAvailable(), 0);
    server.peer->write(Sub(109, QByteArray()));
    QCOMPARE(server.Expect(4), QByteArray("held"));
}

void TstRfc2217::commandsNeverShowAsData()
{
    ScriptedServer server;
    NetObj net(server.PortName());
    net.Collect();
    net.obj->Open();
    QVERIFY(server.Accept());
    server.Expect(15);
    server.peer->write(Cmd(DO, 44));

    // Data with every kind of Telnet command inside, sent one byte at a time so that each
    // command is split across reads.
    const QByteArray stream = "A" + Doubled("\xff") + "B" + Bytes({IAC, NOP}) + "C" + Sub(107, "\x20") + "D" +
                              Cmd(WILL, 1) + "E" + Sub(107, Doubled("\xff")) + "F" + Doubled(AllBytes());
    for (char c : stream) {
        server.peer->write(QByteArray(1, c));
        server.peer->flush();
        QTest::qWait(0);
    }
    const QByteArray want = "A\xff"
                            "BCDEF" +
                            AllBytes();
    QTRY_COMPARE(net.received, want);
    // The echo the server offered is declined (after the line settings).
    QByteArray sent;
    QTRY_VERIFY((sent += server.peer->readAll()).endsWith(Cmd(DONT, 1)));
    QCOMPARE(sent.count(Cmd(DONT, 1)), 1);
    TModemStatus s;
    QCOMPARE(net.obj->GetModemStatus(s), 0);
    QVERIFY(s.CTS && s.DSR && s.RI && s.CD);
}

void TstRfc2217::serverWithoutComPortControl()
{
    ScriptedServer server;
    NetObj net(server.PortName());
    net.Collect();
    net.obj->Open();
    QVERIFY(server.Accept());
    server.Expect(15);
    server.peer->write(Cmd(DONT, 44) + Cmd(DO, 5) + "data");
    QTRY_VERIFY(net.Has(u"does not take COM port control"_s));
    // An option we do not know is refused, and the data still arrives.
    QCOMPARE(server.Expect(3), Cmd(WONT, 5));
    QTRY_COMPARE(net.received, QByteArray("data"));
}

void TstRfc2217::breakAsSetControl_data()
{
    QTest::addColumn<QString>("kind"); // rfc2217, refused (no COM port control), tcp
    QTest::newRow("RFC 2217") << u"rfc2217"_s;
    QTest::newRow("server without COM port control") << u"refused"_s;
    QTest::newRow("plain TCP") << u"tcp"_s;
}

void TstRfc2217::breakAsSetControl()
{
    QFETCH(QString, kind);
    ScriptedServer server;
    QString name = server.PortName();
    if (kind == u"tcp"_s) name.replace(u"rfc2217://"_s, u"tcp://"_s);
    NetObj net(name);
    net.Collect();
    QCOMPARE(net.obj->SendBreak(100), EBADF);
    net.obj->Open();
    QVERIFY(server.Accept());
    if (kind == u"tcp"_s) {
        QTRY_VERIFY(net.Has(u"Connected to"_s));
        QCOMPARE(net.obj->SendBreak(100), ENOTTY);
        return;
    }
    server.Expect(15);
    // Connected, but COM port control is not agreed yet.
    QCOMPARE(net.obj->SendBreak(100), ENOTCONN);
    if (kind == u"refused"_s) {
        server.peer->write(Cmd(DONT, 44));
        QTRY_VERIFY(net.Has(u"does not take COM port control"_s));
        QCOMPARE(net.obj->SendBreak(100), ENOTTY);
        QTest::qWait(50);
        server.peer->readAll();
        return;
    }
    server.peer->write(Cmd(DO, 44));
    QTRY_VERIFY(net.obj->Link() && dynamic_cast<TRfc2217Link*>(net.obj->Link())->ComPortControl());
    QElapsedTimer took;
    took.start();
    QCOMPARE(net.obj->SendBreak(150), 0);
    QCOMPARE(net.obj->SendBreak(150), EBUSY);
    // After the line settings: SET-CONTROL 5, break on; then, from the event loop, 6, off.
    const QByteArray on = Sub(5, "\x05");
    const QByteArray off = Sub(5, "\x06");
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += server.peer->readAll()).endsWith(off), 10000);
    QVERIFY2(took.elapsed() >= 150, qPrintable(QString::number(took.elapsed())));
    QVERIFY(got.endsWith(on + off));
    QCOMPARE(got.count(on), 1);
    QVERIFY(!net.obj->Breaking());
    // Data is not held up by it.
    net.obj->WriteAsync("after", {});
    QCOMPARE(server.Expect(5), QByteArray("after"));
}

void TstRfc2217::throughSer2net()
{
    const QString ser2net =
        QStandardPaths::findExecutable(u"ser2net"_s, {u"/usr/sbin"_s, u"/usr/bin"_s, u"/sbin"_s});
    if (ser2net.isEmpty()) QSKIP("ser2net is not installed (scripts/setup.sh installs it)");
    PtyPair pty;
    QVERIFY(pty.IsValid());
    QTemporaryDir dir;
    const quint16 port = FreePort();
    QFile cfg(dir.filePath(u"ser2net.yaml"_s));
    QVERIFY(cfg.open(QIODevice::WriteOnly));
    cfg.write(u"connection: &port1\n"
              "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
              "  connector: serialdev,%2,9600n81,local\n"_s.arg(port)
                  .arg(pty.SlavePath())
                  .toUtf8());
    cfg.close();
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    // In the foreground, without UUCP locks (a pty has no lock folder of its own).
    server.start(ser2net, {u"-d"_s, u"-u"_s, u"-c"_s, cfg.fileName()});
    if (!server.waitForStarted(5000)) QSKIP("ser2net could not be started");
    const auto stop = qScopeGuard([&] {
        server.terminate();
        if (!server.waitForFinished(3000)) server.kill();
        server.waitForFinished(3000);
    });
    const bool listening = QTest::qWaitFor(
        [&] {
            if (server.state() != QProcess::Running) return true;
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            const bool up = probe.waitForConnected(200);
            probe.abort();
            return up;
        },
        5000);
    if (!listening || server.state() != QProcess::Running)
        QSKIP(qPrintable(u"ser2net did not start listening: "_s + QString::fromLocal8Bit(server.readAll())));
    // The probe's session ends before ours starts.
    QTest::qWait(200);

    NetObj net(u"rfc2217://127.0.0.1:%1"_s.arg(port));
    net.Collect();
    net.obj->SetBaudRate(br57600);
    net.obj->SetParityBits(prEven);
    net.obj->SetDTR(true);
    net.obj->SetRTS(false);
    net.obj->Open();
    QTRY_VERIFY(net.Has(u"Connected to"_s));
    auto* link = dynamic_cast<TRfc2217Link*>(net.obj->Link());
    QVERIFY(link);
    QTRY_VERIFY(link->ComPortControl());

    // The baud rate reaches the pty's termios.
    QTRY_COMPARE(ReadLineSpeed(pty.MasterFd()), 57600);
    // A pty forces 8 data bits and no parity whatever is set, so the parity is checked in
    // ser2net's answer: it set even parity (3) on the device.
    QTRY_COMPARE(link->Answers().Parity, 3);
    QTRY_COMPARE(link->Answers().Baud, 57600u);
    TModemStatus s;
    QCOMPARE(net.obj->GetModemStatus(s), 0);

    // Data both ways, every byte value, 0xFF intact.
    const QByteArray down = AllBytes(16);
    QVERIFY(pty.Write(down));
    QTRY_COMPARE(net.received.size(), down.size());
    QCOMPARE(net.received, down);
    QByteArray up = AllBytes(16);
    std::reverse(up.begin(), up.end());
    net.obj->WriteAsync(up, {});
    QCOMPARE(pty.Read(up.size()), up);

    // Changed while open.
    net.obj->SetBaudRate(br9600);
    QTRY_COMPARE(ReadLineSpeed(pty.MasterFd()), 9600);
}

QTEST_MAIN(TstRfc2217)
#include "tst_rfc2217.moc"
