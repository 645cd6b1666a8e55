#include "FakeModemLines.h"
#include "IniFile.h"
#include "PtyPair.h"
#include "TCustomComPort.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/ioctl.h>

using Req = FakeModemLines::Request;
Q_DECLARE_METATYPE(QList<FakeModemLines::Request>)

namespace {

// A port on a real pty, closed; the test opens it.
struct Port {
    PtyPair pty;
    TComPort port;
    Port()
    {
        port.SetPort(pty.SlavePath());
        port.SetBaudRate(br115200);
    }
};

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// DTR and RTS set, pulsed and read through the modem-line table, and the Reconnect key
// of the per-port settings file.
class TstModemLines : public QObject {
    Q_OBJECT
private slots:
    void openDrivesLines_data();
    void openDrivesLines();
    void setAndPulse_data();
    void setAndPulse();
    void pulseEndsWithTheLevelAsItStands();
    void closeCancelsPendingRestore();
    void closedPortAsksNothing();
    void status_data();
    void status();
    void noModemLinesAskedOnce_data();
    void noModemLinesAskedOnce();
    void realPtyHasNoModemLines();
    void breakIsTimedByTheEventLoop_data();
    void breakIsTimedByTheEventLoop();
    void closeEndsTheBreak();
    void ptyCannotSendBreak();
    void reconnectKey_data();
    void reconnectKey();
};

void TstModemLines::openDrivesLines_data()
{
    QTest::addColumn<int>("flow");
    QTest::addColumn<int>("dtr"); // -1: not asked for
    QTest::addColumn<int>("rts");
    QTest::addColumn<QList<Req>>("expected");
    QTest::newRow("nothing asked: both low as the flow flags say")
        << int(fcNone) << -1 << -1 << QList<Req>{{TIOCMBIC, TIOCM_DTR}, {TIOCMBIC, TIOCM_RTS}};
    QTest::newRow("both asked high before open")
        << int(fcNone) << 1 << 1 << QList<Req>{{TIOCMBIS, TIOCM_DTR}, {TIOCMBIS, TIOCM_RTS}};
    QTest::newRow("DTR high, RTS low")
        << int(fcSoftware) << 1 << 0 << QList<Req>{{TIOCMBIS, TIOCM_DTR}, {TIOCMBIC, TIOCM_RTS}};
    QTest::newRow("hardware flow keeps RTS to the kernel")
        << int(fcHardware) << 0 << 1 << QList<Req>{{TIOCMBIC, TIOCM_DTR}};
}

void TstModemLines::openDrivesLines()
{
    QFETCH(int, flow);
    QFETCH(int, dtr);
    QFETCH(int, rts);
    QFETCH(QList<Req>, expected);
    Port p;
    FakeModemLines lines;
    p.port.SetFlowControl(flow);
    if (dtr >= 0) QVERIFY(!p.port.SetDTR(dtr == 1)); // closed: kept for the open
    if (rts >= 0) QVERIFY(!p.port.SetRTS(rts == 1));
    QVERIFY(lines.requests.isEmpty());
    p.port.Open();
    QVERIFY(p.port.Connected());
    QCOMPARE(lines.Writes(), expected);
    QCOMPARE(lines.lastFd, p.port.Handle());
    QCOMPARE(p.port.ModemSupport(), TCustomComPort::TModemSupport::Supported);
}

void TstModemLines::setAndPulse_data()
{
    QTest::addColumn<bool>("dtr"); // else RTS
    QTest::addColumn<bool>("level");
    QTest::newRow("DTR high") << true << true;
    QTest::newRow("DTR low") << true << false;
    QTest::newRow("RTS high") << false << true;
    QTest::newRow("RTS low") << false << false;
}

void TstModemLines::setAndPulse()
{
    QFETCH(bool, dtr);
    QFETCH(bool, level);
    Port p;
    FakeModemLines lines;
    p.port.Open();
    lines.requests.clear();
    const int bit = dtr ? TIOCM_DTR : TIOCM_RTS;
    const unsigned long set = level ? TIOCMBIS : TIOCMBIC;
    const unsigned long inverted = level ? TIOCMBIC : TIOCMBIS;

    QVERIFY(dtr ? p.port.SetDTR(level) : p.port.SetRTS(level));
    QCOMPARE(lines.Writes(), (QList<Req>{{set, bit}}));
    QCOMPARE(dtr ? p.port.DTR() : p.port.RTS(), level);

    const auto pulse = [&](int ms) { return dtr ? p.port.PulseDTR(ms) : p.port.PulseRTS(ms); };
    QVERIFY(pulse(50));
    QVERIFY(p.port.Pulsing());
    // Inverted at once; the restore comes from the event loop, not from inside the call.
    QCOMPARE(lines.Writes(), (QList<Req>{{set, bit}, {inverted, bit}}));
    QVERIFY(!pulse(50)); // one pulse of a line at a time
    QTRY_VERIFY_WITH_TIMEOUT(!p.port.Pulsing(), 10000);
    QCOMPARE(lines.Writes(), (QList<Req>{{set, bit}, {inverted, bit}, {set, bit}}));
    QCOMPARE((lines.Outputs() & bit) != 0, level);
    // The other line was not touched.
    for (const Req& r : lines.Writes()) QCOMPARE(r.bits, bit);
}

void TstModemLines::pulseEndsWithTheLevelAsItStands()
{
    Port p;
    FakeModemLines lines;
    p.port.SetDTR(true);
    p.port.Open();
    lines.requests.clear();
    QVERIFY(p.port.PulseDTR(100));
    QVERIFY(p.port.SetDTR(false)); // the user lowers DTR during the pulse
    QTRY_VERIFY_WITH_TIMEOUT(!p.port.Pulsing(), 10000);
    QCOMPARE(lines.Writes(),
             (QList<Req>{{TIOCMBIC, TIOCM_DTR}, {TIOCMBIC, TIOCM_DTR}, {TIOCMBIC, TIOCM_DTR}}));
    QVERIFY(!(lines.Outputs() & TIOCM_DTR));
}

void TstModemLines::closeCancelsPendingRestore()
{
    Port p;
    FakeModemLines lines;
    p.port.Open();
    QVERIFY(p.port.PulseRTS(50));
    p.port.Close();
    QVERIFY(!p.port.Pulsing());
    lines.requests.clear();
    QTest::qWait(200);
    QVERIFY(lines.requests.isEmpty());
    // Open again: the lines as asked, and pulses work.
    p.port.Open();
    QVERIFY(p.port.PulseRTS(20));
    QTRY_VERIFY_WITH_TIMEOUT(!p.port.Pulsing(), 10000);
}

void TstModemLines::closedPortAsksNothing()
{
    Port p;
    FakeModemLines lines;
    QVERIFY(!p.port.SetDTR(true));
    QVERIFY(!p.port.PulseDTR(10));
    TModemStatus s;
    QCOMPARE(p.port.GetModemStatus(s), EBADF);
    QVERIFY(lines.requests.isEmpty());
    QVERIFY(p.port.DTR()); // kept for the next open
}

void TstModemLines::status_data()
{
    QTest::addColumn<int>("inputs");
    QTest::addColumn<bool>("cts");
    QTest::addColumn<bool>("dsr");
    QTest::addColumn<bool>("ri");
    QTest::addColumn<bool>("cd");
    QTest::newRow("none") << 0 << false << false << false << false;
    QTest::newRow("CTS") << int(TIOCM_CTS) << true << false << false << false;
    QTest::newRow("DSR and CD") << int(TIOCM_DSR | TIOCM_CAR) << false << true << false << true;
    QTest::newRow("RI") << int(TIOCM_RNG) << false << false << true << false;
    QTest::newRow("all") << int(TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR) << true << true << true
                         << true;
}

void TstModemLines::status()
{
    QFETCH(int, inputs);
    QFETCH(bool, cts);
    QFETCH(bool, dsr);
    QFETCH(bool, ri);
    QFETCH(bool, cd);
    Port p;
    FakeModemLines lines;
    p.port.SetDTR(true); // outputs in the answer do not show as inputs
    p.port.Open();
    lines.inputs = inputs;
    TModemStatus s;
    QCOMPARE(p.port.GetModemStatus(s), 0);
    QCOMPARE(s.CTS, cts);
    QCOMPARE(s.DSR, dsr);
    QCOMPARE(s.RI, ri);
    QCOMPARE(s.CD, cd);
    QCOMPARE(lines.requests.last(), (Req{TIOCMGET, 0}));
}

void TstModemLines::noModemLinesAskedOnce_data()
{
    QTest::addColumn<int>("error");
    QTest::newRow("ENOTTY") << ENOTTY;
    QTest::newRow("EINVAL") << EINVAL;
}

void TstModemLines::noModemLinesAskedOnce()
{
    QFETCH(int, error);
    Port p;
    FakeModemLines lines;
    lines.error = error;
    p.port.Open();
    QVERIFY(p.port.Connected());
    QCOMPARE(lines.requests.size(), 1); // DTR at open; nothing after the answer
    QCOMPARE(p.port.ModemSupport(), TCustomComPort::TModemSupport::Unsupported);
    TModemStatus s;
    for (int i = 0; i < 5; ++i) QCOMPARE(p.port.GetModemStatus(s), ENOTTY);
    QVERIFY(!p.port.SetDTR(true));
    QVERIFY(!p.port.PulseRTS(10));
    QVERIFY(!p.port.Pulsing());
    QCOMPARE(lines.requests.size(), 1);
    // The port still works as a port.
    QCOMPARE(p.port.Write("ok", 2), 2);
    QCOMPARE(p.pty.Read(2), QByteArray("ok"));
    // Each open asks once more (another device may stand behind the name).
    p.port.Close();
    p.port.Open();
    QCOMPARE(lines.requests.size(), 2);
}

void TstModemLines::realPtyHasNoModemLines()
{
    Port p;
    p.port.SetDTR(true);
    p.port.SetRTS(true);
    p.port.Open();
    QVERIFY(p.port.Connected());
    TModemStatus s;
    const int e = p.port.GetModemStatus(s);
    QVERIFY2(e == ENOTTY || e == EINVAL, qPrintable(QString::number(e)));
    QCOMPARE(p.port.ModemSupport(), TCustomComPort::TModemSupport::Unsupported);
    QVERIFY(!p.port.PulseDTR(10));
    QCOMPARE(p.port.Write("x", 1), 1);
    QCOMPARE(p.pty.Read(1), QByteArray("x"));
}

void TstModemLines::breakIsTimedByTheEventLoop_data()
{
    QTest::addColumn<int>("error"); // what the device answers
    QTest::addColumn<int>("ms");
    QTest::newRow("250 ms") << 0 << 250;
    QTest::newRow("1 ms") << 0 << 1;
    QTest::newRow("no break on this device") << ENOTTY << 250;
    QTest::newRow("device error") << EIO << 250;
}

void TstModemLines::breakIsTimedByTheEventLoop()
{
    QFETCH(int, error);
    QFETCH(int, ms);
    Port p;
    FakeModemLines lines;
    QCOMPARE(p.port.SendBreak(ms), EBADF);
    QVERIFY(lines.requests.isEmpty());
    p.port.Open();
    lines.requests.clear();
    lines.error = error;
    QElapsedTimer took;
    took.start();
    QCOMPARE(p.port.SendBreak(ms), error);
    if (error) {
        QVERIFY(!p.port.Breaking());
        QCOMPARE(lines.Writes(), (QList<Req>{{TIOCSBRK, 0}}));
        QTest::qWait(ms + 50);
        QCOMPARE(lines.Writes().size(), 1);
        return;
    }
    // On at once; the call does not wait for the end, and a second one is refused meanwhile.
    QVERIFY(p.port.Breaking());
    QCOMPARE(lines.Writes(), (QList<Req>{{TIOCSBRK, 0}}));
    QCOMPARE(p.port.SendBreak(ms), EBUSY);
    // Bytes still go out while the line is held.
    QCOMPARE(p.port.Write("b", 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!p.port.Breaking(), 10000);
    QVERIFY2(took.elapsed() >= ms, qPrintable(QString::number(took.elapsed())));
    QCOMPARE(lines.Writes(), (QList<Req>{{TIOCSBRK, 0}, {TIOCCBRK, 0}}));
    QCOMPARE(lines.lastFd, p.port.Handle());
    // The modem lines were not touched by it.
    QCOMPARE(lines.Outputs(), 0);
    QCOMPARE(p.port.SendBreak(ms), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!p.port.Breaking(), 10000);
}

void TstModemLines::closeEndsTheBreak()
{
    Port p;
    FakeModemLines lines;
    p.port.Open();
    QCOMPARE(p.port.SendBreak(200), 0);
    lines.requests.clear();
    p.port.Close();
    // Released before the device is let go, and nothing from the timer afterwards, also
    // not in the next session.
    QCOMPARE(lines.Writes(), (QList<Req>{{TIOCCBRK, 0}}));
    QVERIFY(!p.port.Breaking());
    p.port.Open();
    lines.requests.clear();
    QTest::qWait(400);
    QVERIFY(lines.Writes().isEmpty());
    QCOMPARE(p.port.SendBreak(10), 0);
}

void TstModemLines::ptyCannotSendBreak()
{
    // The kernel would take it and do nothing: a pseudo-terminal has no line to hold.
    Port p;
    p.port.Open();
    QCOMPARE(p.port.SendBreak(250), ENOTTY);
    QVERIFY(!p.port.Breaking());
    QCOMPARE(p.port.Write("x", 1), 1);
    QCOMPARE(p.pty.Read(1), QByteArray("x"));
}

void TstModemLines::reconnectKey_data()
{
    QTest::addColumn<QByteArray>("before"); // file content before the store
    QTest::addColumn<bool>("on");
    QTest::addColumn<QByteArray>("line"); // expected Reconnect line, empty: none
    QTest::newRow("on") << QByteArray() << true << QByteArray("Reconnect=1");
    QTest::newRow("off, never had it") << QByteArray() << false << QByteArray();
    QTest::newRow("turned off") << QByteArray("[]\r\nReconnect=1\r\n") << false << QByteArray("Reconnect=0");
}

void TstModemLines::reconnectKey()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, on);
    QFETCH(QByteArray, line);
    QTemporaryDir dir;
    const QString path = dir.filePath("Virtual Port (x).ini");
    if (!before.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    TComPort port;
    port.SetPort("/dev/null-x");
    port.SetReconnect(on);
    port.StoreSettings(stIniFile, path);
    const QByteArray text = ReadAll(path);
    if (line.isEmpty()) QVERIFY(!text.contains("Reconnect"));
    else QVERIFY2(text.contains(line + "\r\n"), text.constData());
    QVERIFY(text.contains("FlowControl=")); // the basic settings are written as before

    TComPort back;
    back.SetReconnect(!on);
    back.LoadSettings(stIniFile, path);
    QCOMPARE(back.Reconnect(), line.isEmpty() ? !on : on);
}

QTEST_MAIN(TstModemLines)
#include "tst_modemlines.moc"
