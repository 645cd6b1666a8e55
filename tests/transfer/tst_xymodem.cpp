// XMODEM, XMODEM-1K and YMODEM against lrzsz (rx, rb, sx, sb): the port object on a real pty,
// lrzsz at the far end of a relay (PtyRelay.h), the engines driven through the port's write
// queue and receive diversion, as the window runs them.

#include "Corvane_CRC.h"
#include "CvReceivedFile.h"
#include "TComUIHandleThread.h"
#include "TCvLineSink.h"
#include "TCvXmodem.h"
#include "TLogModel.h"
#include "TransferRig.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

// Short enough for a test, long enough for a loaded machine.
TCvXmodemTimes TestTimes()
{
    TCvXmodemTimes t;
    t.StartMs = 20000;
    t.ReplyMs = 3000;
    t.StartIntervalMs = 1000;
    t.StartTries = 20;
    t.CharMs = 1000;
    t.BlockMs = 3000;
    return t;
}

const QList<int> kSizes{0, 1, 127, 128, 129, 1024, 1025, 100 * 1024, 1024 * 1024};

// Blocks the sender uses for n bytes: 1K blocks while more than 896 bytes are left.
int BlocksFor(qsizetype n, bool oneK)
{
    int blocks = 0;
    while (n > 0) {
        n -= oneK && n > 896 ? 1024 : 128;
        ++blocks;
    }
    return blocks;
}

// An XMODEM file: the data, then only 0x1A up to the end of its last block.
void VerifyPadded(const QByteArray& got, const QByteArray& data, int blockSize)
{
    QVERIFY2(got.startsWith(data), "the data did not arrive whole");
    QVERIFY(got.size() % 128 == 0);
    QVERIFY(got.size() - data.size() < blockSize);
    const QByteArray tail = got.mid(data.size());
    QCOMPARE(tail, QByteArray(tail.size(), '\x1A'));
}

// How late a 10 ms timer fires: the event loop's responsiveness during a wait.
struct Lateness {
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 worst = 0;
    QTimer timer;
    Lateness()
    {
        clock.start();
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            const qint64 now = clock.elapsed();
            if (last >= 0) worst = qMax(worst, now - last - 10);
            last = now;
        });
        timer.start();
    }
};

} // namespace

class TstXymodem : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void sendToLrzsz_data();
    void sendToLrzsz();
    void receiveFromLrzsz_data();
    void receiveFromLrzsz();
    void faultsAreRetried_data();
    void faultsAreRetried();
    void silentPeerTimesOut_data();
    void silentPeerTimesOut();
    void cancelReachesThePeer_data();
    void cancelReachesThePeer();
    void peerCancelIsHonoured();
    void closingThePortEndsIt();
    void pathInHeaderLandsAsPlainName();
    void existingFileIsKept();
    void bytesAfterTheEndStayForThePort();
    void receivedBytesBelongToTheTransfer_data();
    void receivedBytesBelongToTheTransfer();
    void handMadeSender_data();
    void handMadeSender();
    void safeNames_data();
    void safeNames();
};

void TstXymodem::initTestCase()
{
    for (const char* p : {"rx", "rb", "sx", "sb"})
        QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(p)).isEmpty(),
                 "lrzsz is not installed (scripts/setup.sh installs it)");
}

void TstXymodem::sendToLrzsz_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("size");
    for (const QString& mode : {u"xmodem-sum"_s, u"xmodem-crc"_s, u"xmodem-1k"_s, u"ymodem"_s})
        for (const int size : kSizes) QTest::addRow("%s %d", qPrintable(mode), size) << mode << size;
}

// Our sender to lrzsz's receiver: the bytes arrive exactly (XMODEM: then only padding).
void TstXymodem::sendToLrzsz()
{
    QFETCH(QString, mode);
    QFETCH(int, size);
    QTemporaryDir tmp;
    QDir().mkpath(tmp.filePath(u"in"_s));
    const QByteArray data = Pattern(size, size);
    const QString path = WriteFile(tmp.filePath(u"firmware.bin"_s), data);
    TransferRig rig;
    QVERIFY(rig.port->Connected());

    const bool ymodem = mode == u"ymodem"_s;
    QStringList args;
    if (mode != u"xmodem-sum"_s && !ymodem) args << u"-c"_s;
    if (!ymodem) args << u"out.bin"_s;
    LrzszPeer peer(rig.PeerLine(), ymodem ? u"rb"_s : u"rx"_s, args, tmp.filePath(u"in"_s));

    const auto m = ymodem                   ? TCvXmodemSender::TMode::Ymodem
                   : mode == u"xmodem-1k"_s ? TCvXmodemSender::TMode::Xmodem1K
                                            : TCvXmodemSender::TMode::Xmodem;
    auto* sender = rig.Start(std::make_unique<TCvXmodemSender>(
        rig.link.get(), m, QList<TCvXmodemSender::TFile>{{path, {}}}, TestTimes()));
    QVERIFY2(rig.Ended(120000), "the transfer did not end");
    QVERIFY2(rig.result->End == TCvTransferEnd::Done, qPrintable(rig.result->Reason));
    QCOMPARE(peer.Wait(20000), 0);
    QCOMPARE(sender->UsesCrc(), mode != u"xmodem-sum"_s);
    const bool oneK = m != TCvXmodemSender::TMode::Xmodem;
    QCOMPARE(rig.result->Progress.Bytes, qint64(size));
    QCOMPARE(rig.result->Progress.Blocks, BlocksFor(size, oneK));
    QCOMPARE(rig.result->Progress.Retries, 0);
    // The port was the transfer's: nothing of the peer's answers reached the log.
    QVERIFY(rig.port->TextStore().IsEmpty());
    if (ymodem) {
        QCOMPARE(ReadWhole(tmp.filePath(u"in/firmware.bin"_s)), data);
    } else {
        VerifyPadded(ReadWhole(tmp.filePath(u"in/out.bin"_s)), data, oneK ? 1024 : 128);
    }
}

void TstXymodem::receiveFromLrzsz_data()
{
    sendToLrzsz_data();
}

// lrzsz's sender to our receiver: the file lands whole in the folder.
void TstXymodem::receiveFromLrzsz()
{
    QFETCH(QString, mode);
    QFETCH(int, size);
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(u"in"_s);
    QDir().mkpath(folder);
    const QByteArray data = Pattern(size, size + 7);
    WriteFile(tmp.filePath(u"image.bin"_s), data);
    TransferRig rig;

    const bool ymodem = mode == u"ymodem"_s;
    auto receiver = std::make_unique<TCvXmodemReceiver>(
        rig.link.get(), ymodem ? TCvXmodemReceiver::TMode::Ymodem : TCvXmodemReceiver::TMode::Xmodem, folder,
        mode != u"xmodem-sum"_s, TestTimes());
    receiver->SetXmodemName(u"got.bin"_s);
    auto* r = rig.Start(std::move(receiver));
    QStringList args;
    if (mode == u"xmodem-1k"_s) args << u"-k"_s;
    args << u"image.bin"_s;
    LrzszPeer peer(rig.PeerLine(), ymodem ? u"sb"_s : u"sx"_s, args, tmp.path());

    QVERIFY2(rig.Ended(120000), "the transfer did not end");
    QVERIFY2(rig.result->End == TCvTransferEnd::Done, qPrintable(rig.result->Reason));
    QCOMPARE(peer.Wait(20000), 0);
    QCOMPARE(r->UsesCrc(), mode != u"xmodem-sum"_s);
    QCOMPARE(rig.result->Progress.Retries, 0);
    QCOMPARE(rig.result->Files.size(), 1);
    const QString saved = rig.result->Files.first();
    QCOMPARE(QFileInfo(saved).absolutePath(), QFileInfo(folder).absoluteFilePath());
    if (ymodem) {
        QCOMPARE(QFileInfo(saved).fileName(), u"image.bin"_s);
        QCOMPARE(ReadWhole(saved), data);
        QCOMPARE(rig.result->Progress.Bytes, qint64(size));
    } else {
        QCOMPARE(QFileInfo(saved).fileName(), u"got.bin"_s);
        VerifyPadded(ReadWhole(saved), data, mode == u"xmodem-1k"_s ? 1024 : 128);
    }
    // Only the file: no temporary left beside it.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(saved).fileName()});
    QCOMPARE(rig.messages.size(), 1);
    QVERIFY(rig.messages.first().contains(saved));
}

void TstXymodem::faultsAreRetried_data()
{
    QTest::addColumn<bool>("sending");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("nth");
    using F = PtyRelay::TFault;
    QTest::newRow("send: a byte of a block changed") << true << int(F::Corrupt) << 3;
    QTest::newRow("send: a block lost") << true << int(F::Drop) << 4;
    QTest::newRow("send: an ACK doubled") << true << int(F::DoubleAck) << 3;
    QTest::newRow("send: the header's ACK doubled") << true << int(F::DoubleAck) << 1;
    QTest::newRow("receive: a byte of a block changed") << false << int(F::Corrupt) << 3;
    QTest::newRow("receive: a block lost") << false << int(F::Drop) << 4;
    // Asked for again by the C repeated at the start, which is no retry.
    QTest::newRow("receive: the header lost") << false << int(F::Drop) << 1;
}

// A relay in the middle spoils one block or one answer: YMODEM repeats it and the file
// arrives intact.
void TstXymodem::faultsAreRetried()
{
    QFETCH(bool, sending);
    QFETCH(int, fault);
    QFETCH(int, nth);
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    const QByteArray data = Pattern(20 * 1024 + 33, fault * 10 + nth);
    const QString path = WriteFile(tmp.filePath(u"data.bin"_s), data);
    TransferRig rig;
    const auto fromProgram = sending ? PtyRelay::TWay::ToPeer : PtyRelay::TWay::ToProgram;
    const auto answers = sending ? PtyRelay::TWay::ToProgram : PtyRelay::TWay::ToPeer;
    rig.relay.SetFault(PtyRelay::TFault(fault) == PtyRelay::TFault::DoubleAck ? answers : fromProgram,
                       PtyRelay::TFault(fault), nth);
    std::unique_ptr<LrzszPeer> peer;
    if (sending) {
        // rb's own time-out shortened to 2 s, so that a lost block is asked for again soon.
        peer = std::make_unique<LrzszPeer>(rig.PeerLine(), u"rb"_s, QStringList{u"-t"_s, u"20"_s}, in);
        rig.Start(std::make_unique<TCvXmodemSender>(rig.link.get(), TCvXmodemSender::TMode::Ymodem,
                                                    QList<TCvXmodemSender::TFile>{{path, {}}}, TestTimes()));
    } else {
        rig.Start(std::make_unique<TCvXmodemReceiver>(rig.link.get(), TCvXmodemReceiver::TMode::Ymodem, in,
                                                      true, TestTimes()));
        peer = std::make_unique<LrzszPeer>(rig.PeerLine(), u"sb"_s, QStringList{u"data.bin"_s}, tmp.path());
    }
    QVERIFY2(rig.Ended(120000), "the transfer did not end");
    QVERIFY(rig.relay.FaultDone());
    QVERIFY2(rig.result->End == TCvTransferEnd::Done, qPrintable(rig.result->Reason));
    QCOMPARE(peer->Wait(20000), 0);
    QCOMPARE(ReadWhole(QDir(in).filePath(u"data.bin"_s)), data);
    // Spoiling a block costs a retry; a doubled answer costs nothing.
    if (PtyRelay::TFault(fault) != PtyRelay::TFault::DoubleAck && nth > 1)
        QVERIFY(rig.result->Progress.Retries >= 1);
}

void TstXymodem::silentPeerTimesOut_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("send: nobody starts") << u"none-send"_s << u"the receiver did not start within 2 s"_s;
    QTest::newRow("receive: nobody sends") << u"none-receive"_s << u"no sender started within 2 s"_s;
    QTest::newRow("send: the receiver freezes") << u"frozen-rb"_s << u"no answer to block"_s;
    QTest::newRow("receive: the sender freezes") << u"frozen-sb"_s << u"no block came after 11 tries"_s;
}

// A peer that says nothing, from the start or from the middle on: the transfer ends with a
// time-out and its reason, and the event loop keeps turning while it waits.
void TstXymodem::silentPeerTimesOut()
{
    QFETCH(QString, peer);
    QFETCH(QString, reason);
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    const QString path = WriteFile(tmp.filePath(u"big.bin"_s), Pattern(512 * 1024));
    TransferRig rig;
    TCvXmodemTimes t = TestTimes();
    t.StartMs = 2000;
    t.ReplyMs = 200;
    t.StartIntervalMs = 400;
    t.StartTries = 5;
    t.BlockMs = 200;
    std::unique_ptr<LrzszPeer> far;
    const bool sending = peer.endsWith(u"send"_s) || peer == u"frozen-rb"_s;
    if (peer == u"frozen-rb"_s) far = std::make_unique<LrzszPeer>(rig.PeerLine(), u"rb"_s, QStringList(), in);
    if (sending) {
        rig.Start(std::make_unique<TCvXmodemSender>(rig.link.get(), TCvXmodemSender::TMode::Ymodem,
                                                    QList<TCvXmodemSender::TFile>{{path, {}}}, t));
    } else {
        rig.Start(std::make_unique<TCvXmodemReceiver>(rig.link.get(), TCvXmodemReceiver::TMode::Ymodem, in,
                                                      true, t));
    }
    if (peer == u"frozen-sb"_s)
        far = std::make_unique<LrzszPeer>(rig.PeerLine(), u"sb"_s, QStringList{u"big.bin"_s}, tmp.path());
    if (far) {
        // Stopped in the middle of the file, as a device that hangs.
        QVERIFY(RunUntil([&] { return rig.engine->Progress().Bytes > 16 * 1024 || rig.result; }, 30000));
        QVERIFY(!rig.result);
        ::kill(pid_t(far->proc.processId()), SIGSTOP);
    }
    Lateness late;
    QVERIFY2(rig.Ended(30000), "the transfer did not end");
    late.timer.stop();
    if (far) ::kill(pid_t(far->proc.processId()), SIGKILL);
    qInfo("event loop at most %lld ms late while the transfer waited", late.worst);
    QVERIFY2(late.worst < 1000, "the event loop stalled");
    QCOMPARE(int(rig.result->End), int(TCvTransferEnd::TimedOut));
    QVERIFY2(rig.result->Reason.startsWith(reason), qPrintable(rig.result->Reason));
    // A receiver that gives up leaves no part of a file.
    if (!sending) QCOMPARE(QDir(in).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TstXymodem::cancelReachesThePeer_data()
{
    QTest::addColumn<bool>("sending");
    QTest::newRow("sending to rb") << true;
    QTest::newRow("receiving from sb") << false;
}

// Cancel in the middle: the peer sees CAN and stops at once, long before its own time-outs.
void TstXymodem::cancelReachesThePeer()
{
    QFETCH(bool, sending);
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    const QString path = WriteFile(tmp.filePath(u"big.bin"_s), Pattern(1024 * 1024));
    TransferRig rig;
    std::unique_ptr<LrzszPeer> peer;
    if (sending) {
        peer = std::make_unique<LrzszPeer>(rig.PeerLine(), u"rb"_s, QStringList(), in);
        rig.Start(std::make_unique<TCvXmodemSender>(rig.link.get(), TCvXmodemSender::TMode::Ymodem,
                                                    QList<TCvXmodemSender::TFile>{{path, {}}}, TestTimes()));
    } else {
        rig.Start(std::make_unique<TCvXmodemReceiver>(rig.link.get(), TCvXmodemReceiver::TMode::Ymodem, in,
                                                      true, TestTimes()));
        peer = std::make_unique<LrzszPeer>(rig.PeerLine(), u"sb"_s, QStringList{u"big.bin"_s}, tmp.path());
    }
    QVERIFY(RunUntil([&] { return rig.engine->Progress().Bytes > 64 * 1024 || rig.result; }, 30000));
    QVERIFY(!rig.result);
    QElapsedTimer clock;
    clock.start();
    rig.engine->Cancel();
    // It ends within about a second, once the peer has been told between two blocks.
    QVERIFY(rig.Ended(3000));
    QCOMPARE(int(rig.result->End), int(TCvTransferEnd::Cancelled));
    const int code = peer->Wait(8000);
    QVERIFY2(code != -2, "the peer did not stop");
    QVERIFY(code != 0);
    qInfo("the peer stopped %lld ms after the cancel", clock.elapsed());
    if (!sending) QCOMPARE(QDir(in).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// The peer gives up (lrzsz sends its CANs when it is interrupted): the transfer ends at once.
void TstXymodem::peerCancelIsHonoured()
{
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    const QString path = WriteFile(tmp.filePath(u"big.bin"_s), Pattern(1024 * 1024));
    TransferRig rig;
    LrzszPeer peer(rig.PeerLine(), u"rb"_s, QStringList(), in);
    rig.Start(std::make_unique<TCvXmodemSender>(rig.link.get(), TCvXmodemSender::TMode::Ymodem,
                                                QList<TCvXmodemSender::TFile>{{path, {}}}, TestTimes()));
    QVERIFY(RunUntil([&] { return rig.engine->Progress().Bytes > 64 * 1024 || rig.result; }, 30000));
    QVERIFY(!rig.result);
    ::kill(pid_t(peer.proc.processId()), SIGINT);
    QVERIFY2(rig.Ended(5000), "the peer's CAN was not taken");
    QCOMPARE(int(rig.result->End), int(TCvTransferEnd::PeerCancelled));
    QCOMPARE(rig.result->Reason, u"the receiver cancelled"_s);
}

// The port is closed in the middle (the user, or the device vanished): the transfer ends at
// once and says so, and a receive leaves nothing behind.
void TstXymodem::closingThePortEndsIt()
{
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    WriteFile(tmp.filePath(u"big.bin"_s), Pattern(1024 * 1024));
    TransferRig rig;
    rig.Start(std::make_unique<TCvXmodemReceiver>(rig.link.get(), TCvXmodemReceiver::TMode::Ymodem, in, true,
                                                  TestTimes()));
    LrzszPeer peer(rig.PeerLine(), u"sb"_s, {u"big.bin"_s}, tmp.path());
    QVERIFY(RunUntil([&] { return rig.engine->Progress().Bytes > 64 * 1024 || rig.result; }, 30000));
    QVERIFY(!rig.result);
    rig.port->Close();
    QVERIFY(rig.result);
    QCOMPARE(int(rig.result->End), int(TCvTransferEnd::PortClosed));
    QCOMPARE(rig.result->Reason, u"the device was closed"_s);
    QVERIFY(!rig.port->ReceiveDiversion());
    QCOMPARE(QDir(in).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// A YMODEM header that names a path outside the folder: the file lands under its plain
// name in the folder, and nowhere else.
void TstXymodem::pathInHeaderLandsAsPlainName()
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.filePath(u"a/b"_s));
    QDir().mkpath(tmp.filePath(u"etc"_s));
    QDir().mkpath(tmp.filePath(u"in/x/y"_s));
    const QByteArray data = "root:x:0:0:root:/root:/bin/sh\n";
    WriteFile(tmp.filePath(u"etc/passwd"_s), data);
    const QString folder = tmp.filePath(u"in/x/y"_s);
    TransferRig rig;
    rig.Start(std::make_unique<TCvXmodemReceiver>(rig.link.get(), TCvXmodemReceiver::TMode::Ymodem, folder,
                                                  true, TestTimes()));
    // sb's full-path option sends the name as given: ../../etc/passwd.
    LrzszPeer peer(rig.PeerLine(), u"sb"_s, {u"-f"_s, u"../../etc/passwd"_s}, tmp.filePath(u"a/b"_s));
    QVERIFY(rig.Ended(60000));
    QVERIFY2(rig.result->End == TCvTransferEnd::Done, qPrintable(rig.result->Reason));
    QCOMPARE(peer.Wait(20000), 0);
    QCOMPARE(rig.result->Files, QStringList{QDir(folder).filePath(u"passwd"_s)});
    QCOMPARE(ReadWhole(QDir(folder).filePath(u"passwd"_s)), data);
    QCOMPARE(QDir(tmp.filePath(u"in"_s)).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(QDir(tmp.filePath(u"in/x"_s)).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(rig.messages.first().contains(u"../../etc/passwd"_s));
    QVERIFY(rig.messages.first().contains(u"reduced to a plain file name"_s));
}

// A file of the same name is there already: it stays as it was, the new one gets a new
// name, and the log says so.
void TstXymodem::existingFileIsKept()
{
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    const QByteArray old = "the file that was there";
    WriteFile(QDir(in).filePath(u"log.txt"_s), old);
    const QByteArray data = Pattern(3000, 5);
    WriteFile(tmp.filePath(u"log.txt"_s), data);
    for (int round = 1; round <= 2; ++round) {
        TransferRig rig;
        rig.Start(std::make_unique<TCvXmodemReceiver>(rig.link.get(), TCvXmodemReceiver::TMode::Ymodem, in,
                                                      true, TestTimes()));
        LrzszPeer peer(rig.PeerLine(), u"sb"_s, {u"log.txt"_s}, tmp.path());
        QVERIFY(rig.Ended(60000));
        QVERIFY2(rig.result->End == TCvTransferEnd::Done, qPrintable(rig.result->Reason));
        const QString expected = QDir(in).filePath(u"log (%1).txt"_s.arg(round));
        QCOMPARE(rig.result->Files, QStringList{expected});
        QCOMPARE(ReadWhole(expected), data);
        QVERIFY(rig.messages.first().contains(u"log.txt exists already: saved as log (%1).txt"_s.arg(round)));
        QCOMPARE(peer.Wait(20000), 0);
    }
    QCOMPARE(ReadWhole(QDir(in).filePath(u"log.txt"_s)), old);
}

// What a bootloader prints right after the transfer is the port's again: it is not taken
// by the transfer, even when it follows the last answer at once.
void TstXymodem::bytesAfterTheEndStayForThePort()
{
    QTemporaryDir tmp;
    const QString path = WriteFile(tmp.filePath(u"f.bin"_s), Pattern(300));
    PtyPair pty;
    TCvComPortObj port(nullptr, u"Virtual Port (%1)"_s.arg(pty.SlavePath()));
    port.CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                           rfAscii, nullptr, false, false, false, false, true);
    port.Open();
    TCvPortTransferLink link(&port);
    TCvXmodemSender sender(&link, TCvXmodemSender::TMode::Xmodem, {{path, {}}}, TestTimes());
    std::optional<TCvTransferResult> result;
    connect(&sender, &TCvTransfer::Finished, this, [&](const TCvTransferResult& r) { result = r; });
    link.Attach(&sender);
    sender.Start();
    // The device plays a receiver by hand: C, three ACKs, then the ACK of EOT and its own
    // text in one write.
    QVERIFY(pty.Write("C"));
    for (int block = 1; block <= 3; ++block) {
        QCOMPARE(pty.Read(133, 10000).size(), 133);
        QVERIFY(pty.Write("\x06"));
    }
    QCOMPARE(pty.Read(1, 10000), QByteArray("\x04"));
    const QByteArray tail = "## Total Size = 0x00000180 = 384 Bytes\r\n=> ";
    QVERIFY(pty.Write("\x06" + tail));
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 10000);
    QCOMPARE(int(result->End), int(TCvTransferEnd::Done));
    QVERIFY(!port.ReceiveDiversion());
    QTRY_COMPARE(port.LogView()->Model().Line(0), u"## Total Size = 0x00000180 = 384 Bytes"_s);
    // Counted once each: C, three ACKs, the last ACK and the text.
    QCOMPARE(port.FComReceiveCount.load(), qint64(1 + 3 + 1 + tail.size()));
}

namespace {
struct SinkRecorder : TCvLineSink {
    QString text;
    void TextReceived(const QString& t, qint64) override { text += t; }
};
} // namespace

void TstXymodem::receivedBytesBelongToTheTransfer_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("text, with the plot's sink") << int(rfAscii);
    QTest::newRow("hex") << int(rfHex);
    QTest::newRow("waveform") << int(rfGraphic);
    QTest::newRow("captured to a file") << int(rfFile);
}

// While the transfer runs, what the device sends is the transfer's: nothing of it reaches the
// log view, the display worker, a capture file or the plot. Afterwards the port shows its
// bytes again as its format says.
void TstXymodem::receivedBytesBelongToTheTransfer()
{
    QFETCH(int, format);
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    const QByteArray data = Pattern(20000, format);
    WriteFile(tmp.filePath(u"data.bin"_s), data);
    TransferRig rig;
    TCvComPortObj& port = *rig.port;
    port.CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                           format, nullptr, false, false, false, false, true);
    SinkRecorder sink;
    port.SetLineSink(&sink);
    const QString capture = tmp.filePath(u"capture.bin"_s);
    if (format == rfFile) {
        auto f = std::make_unique<QFile>(capture);
        QVERIFY(f->open(QIODevice::WriteOnly));
        port.FFileStreamName = capture;
        port.SetFileStream(std::move(f));
    }
    rig.Start(std::make_unique<TCvXmodemReceiver>(rig.link.get(), TCvXmodemReceiver::TMode::Ymodem, in, true,
                                                  TestTimes()));
    LrzszPeer peer(rig.PeerLine(), u"sb"_s, {u"data.bin"_s}, tmp.path());
    QVERIFY(rig.Ended(60000));
    QVERIFY2(rig.result->End == TCvTransferEnd::Done, qPrintable(rig.result->Reason));
    QCOMPARE(ReadWhole(QDir(in).filePath(u"data.bin"_s)), data);
    QTest::qWait(50);
    port.FlushUiQueue();
    QVERIFY(port.LogView()->Model().IsEmpty());
    QVERIFY(port.InternalBufferCopy().isEmpty());
    QCOMPARE(port.FComProcessedCount.load(), 0);
    QCOMPARE(sink.text, QString());
    if (port.FileStream()) port.FileStream()->flush();
    QCOMPARE(QFileInfo(capture).size(), 0);
    QCOMPARE(port.FComReceiveCount.load(), rig.relay.Moved(PtyRelay::TWay::ToProgram));

    // The transfer is over: the device's bytes are the port's again.
    QCOMPARE(peer.Wait(20000), 0);
    QVERIFY(::write(rig.PeerLine(), "after\r\n", 7) == 7);
    QTRY_COMPARE_WITH_TIMEOUT(port.FComReceiveCount.load(), rig.relay.Moved(PtyRelay::TWay::ToProgram),
                              10000);
    QTRY_VERIFY_WITH_TIMEOUT(port.FComProcessedCount.load() > 0, 10000);
    if (format == rfAscii) QTRY_COMPARE(sink.text, u"after\r\n"_s);
    if (format == rfFile) {
        QTRY_VERIFY((port.FileStream()->flush(), QFileInfo(capture).size() == 7));
        QCOMPARE(ReadWhole(capture), QByteArray("after\r\n"));
    }
}

namespace {
// A block as a sender puts it on the line.
QByteArray Block(int number, QByteArray data, bool crc)
{
    const int size = data.size() <= 128 ? 128 : 1024;
    data.append(QByteArray(size - data.size(), '\x1A'));
    QByteArray b;
    b.append(size == 1024 ? '\x02' : '\x01').append(char(number & 0xFF)).append(char(0xFF - (number & 0xFF)));
    b.append(data);
    if (crc) {
        const quint16 c =
            CalCRC16Xmodem(reinterpret_cast<const std::uint8_t*>(data.constData()), int(data.size()));
        b.append(char(c >> 8)).append(char(c & 0xFF));
    } else {
        quint8 sum = 0;
        for (const char ch : std::as_const(data)) sum = quint8(sum + quint8(ch));
        b.append(char(sum));
    }
    return b;
}
QByteArray Header(const QByteArray& fields)
{
    QByteArray h = fields;
    h.append(QByteArray(128 - h.size(), '\0'));
    return h;
}
} // namespace

void TstXymodem::handMadeSender_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("XMODEM: a sender that knows only the checksum") << u"checksum-only"_s << u"done"_s;
    QTest::newRow("YMODEM: a header without a size keeps the padding") << u"no-size"_s << u"done"_s;
    QTest::newRow("YMODEM: the file ends before its size") << u"short"_s << u"failed"_s;
    QTest::newRow("XMODEM: a block out of sequence") << u"out-of-sequence"_s << u"failed"_s;
    QTest::newRow("XMODEM: noise before the first block") << u"noise"_s << u"done"_s;
}

// Senders written by hand on the pty, for what lrzsz does not do: the receiver settles for
// the checksum after three C's, keeps the padding when no size was given, refuses a file
// shorter than announced and a block out of sequence, and ignores noise between blocks.
void TstXymodem::handMadeSender()
{
    QFETCH(QString, script);
    QFETCH(QString, outcome);
    QTemporaryDir tmp;
    PtyPair pty;
    TCvComPortObj port(nullptr, u"Virtual Port (%1)"_s.arg(pty.SlavePath()));
    port.CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                           rfAscii, nullptr, false, false, false, false, true);
    port.Open();
    TCvPortTransferLink link(&port);
    TCvXmodemTimes t = TestTimes();
    t.StartIntervalMs = 200;
    const bool ymodem = script == u"no-size"_s || script == u"short"_s;
    TCvXmodemReceiver receiver(&link,
                               ymodem ? TCvXmodemReceiver::TMode::Ymodem : TCvXmodemReceiver::TMode::Xmodem,
                               tmp.path(), true, t);
    receiver.SetXmodemName(u"x.bin"_s);
    std::optional<TCvTransferResult> result;
    connect(&receiver, &TCvTransfer::Finished, this, [&](const TCvTransferResult& r) { result = r; });
    link.Attach(&receiver);
    receiver.Start();
    const QByteArray data = Pattern(200, 4);
    const auto answer = [&] { return pty.Read(1, 5000); };
    if (script == u"checksum-only"_s) {
        // C is not understood: only the NAK that follows three of them starts the file.
        QCOMPARE(pty.Read(3, 5000), QByteArray("CCC"));
        QCOMPARE(answer(), QByteArray("\x15"));
        QVERIFY(pty.Write(Block(1, data.left(128), false)));
        QCOMPARE(answer(), QByteArray("\x06"));
        QVERIFY(pty.Write(Block(2, data.mid(128), false)));
        QCOMPARE(answer(), QByteArray("\x06"));
    } else if (script == u"noise"_s) {
        QCOMPARE(answer(), QByteArray("C"));
        // A console's echo of the command typed on the device, then the file.
        QVERIFY(pty.Write("sx x.bin\r\n" + Block(1, data.left(128), true)));
        QCOMPARE(answer(), QByteArray("\x06"));
        QVERIFY(pty.Write(Block(2, data.mid(128), true)));
        QCOMPARE(answer(), QByteArray("\x06"));
    } else if (script == u"out-of-sequence"_s) {
        QCOMPARE(answer(), QByteArray("C"));
        QVERIFY(pty.Write(Block(1, data.left(128), true)));
        QCOMPARE(answer(), QByteArray("\x06"));
        QVERIFY(pty.Write(Block(3, data.mid(128), true)));
        QVERIFY(pty.Read(2, 5000).startsWith("\x18\x18"));
    } else {
        QCOMPARE(answer(), QByteArray("C"));
        QVERIFY(pty.Write(Block(0,
                                Header(script == u"short"_s ? QByteArray("f.bin\0"
                                                                         "300",
                                                                         9)
                                                            : QByteArray("f.bin")),
                                true)));
        QCOMPARE(pty.Read(2, 5000), QByteArray("\x06"
                                               "C"));
        QVERIFY(pty.Write(Block(1, data.left(128), true)));
        QCOMPARE(answer(), QByteArray("\x06"));
        QVERIFY(pty.Write(Block(2, data.mid(128), true)));
        QCOMPARE(answer(), QByteArray("\x06"));
    }
    if (script != u"out-of-sequence"_s) {
        // The first EOT gets NAK, the second ACK (or CAN when the file fell short).
        QVERIFY(pty.Write("\x04"));
        QCOMPARE(answer(), QByteArray("\x15"));
        QVERIFY(pty.Write("\x04"));
        if (outcome == u"failed"_s) {
            const QByteArray cans = pty.Read(2, 5000);
            QVERIFY2(cans.startsWith("\x18\x18"), cans.toHex().constData());
        } else {
            QCOMPARE(pty.Read(ymodem ? 2 : 1, 5000), QByteArray(ymodem ? "\x06"
                                                                         "C"
                                                                       : "\x06"));
            if (ymodem) {
                QVERIFY(pty.Write(Block(0, Header({}), true)));
                QCOMPARE(answer(), QByteArray("\x06"));
            }
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 10000);
    if (outcome == u"failed"_s) {
        QCOMPARE(int(result->End), int(TCvTransferEnd::Failed));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        if (script == u"short"_s) QCOMPARE(result->Reason, u"the file ended after 256 of 300 bytes"_s);
        else QCOMPARE(result->Reason, u"block 3 came where block 2 was expected"_s);
        return;
    }
    QVERIFY2(result->End == TCvTransferEnd::Done, qPrintable(result->Reason));
    QCOMPARE(receiver.UsesCrc(), script != u"checksum-only"_s);
    const QByteArray got = ReadWhole(result->Files.value(0));
    QCOMPARE(got.size(), 256);
    QVERIFY(got.startsWith(data));
    QCOMPARE(got.mid(200), QByteArray(56, '\x1A'));
}

void TstXymodem::safeNames_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("safe");
    QTest::newRow("plain") << u"u-boot.itb"_s << u"u-boot.itb"_s;
    QTest::newRow("up and out") << u"../../etc/passwd"_s << u"passwd"_s;
    QTest::newRow("absolute") << u"/etc/shadow"_s << u"shadow"_s;
    QTest::newRow("Windows path") << u"C:\\fw\\app.hex"_s << u"app.hex"_s;
    QTest::newRow("control characters") << u"a\x01"
                                           "b\x1b"
                                           "[31mc\x7f"
                                           ".bin"_s
                                        << u"ab[31mc.bin"_s;
    QTest::newRow("hidden") << u".bashrc"_s << u"bashrc"_s;
    QTest::newRow("dots only") << u".."_s << u"received.bin"_s;
    QTest::newRow("folder only") << u"dir/"_s << u"received.bin"_s;
    QTest::newRow("empty") << QString() << u"received.bin"_s;
    QTest::newRow("Chinese") << u"固件.bin"_s << u"固件.bin"_s;
    QTest::newRow("too long") << QString(300, u'好') << QString(85, u'好');
}

// What a peer calls a file becomes a plain name in the chosen folder.
void TstXymodem::safeNames()
{
    QFETCH(QString, given);
    QFETCH(QString, safe);
    QCOMPARE(SafeReceivedFileName(given), safe);
    QVERIFY(SafeReceivedFileName(given).toUtf8().size() <= 255);
}

QTEST_GUILESS_MAIN(TstXymodem)
#include "tst_xymodem.moc"
