#include "CvProtocol.h"
#include "PortRig.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"

#include <QTest>
#include <QVBoxLayout>

#include <atomic>
#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

struct Rig : PortRig {
    explicit Rig(bool echo = true) : PortRig({rfProtocol, sfProtocol, false, echo, false, false}) {}
};

QByteArray Packet(quint16 type, quint16 index, quint16 total, const QByteArray& payload)
{
    TCvComPack p = TCvComProtocal::CreatePack(0);
    p.TypeID = type;
    p.Index = index;
    p.Total = total;
    p.Length = static_cast<quint16>(payload.isEmpty() ? 10 : payload.size() + 12);
    std::memcpy(p.data.data(), payload.constData(), static_cast<size_t>(payload.size()));
    if (!payload.isEmpty()) p.SetChecksum(CvNoChecksum);
    const auto wire = p.WireBytes();
    return QByteArray(reinterpret_cast<const char*>(wire.data()), p.Length);
}

// Splits a byte stream read from the wire into packets (they arrive whole and in order).
QList<QByteArray> SplitPackets(const QByteArray& wire)
{
    QList<QByteArray> out;
    int pos = 0;
    while (pos + 10 <= wire.size()) {
        const int len = quint8(wire[pos + 8]) | (quint8(wire[pos + 9]) << 8);
        out << wire.mid(pos, len);
        pos += len;
    }
    return out;
}

// A device on the pty master: answers every packet it reads with the same packet as an
// acknowledgement (type 0x0Exx), followed by `after` in the same write, until `stop`.
void AnswerWithAcks(int master, const std::atomic<bool>& stop, const QByteArray& after,
                    std::atomic<int>* acked)
{
    QByteArray pending;
    while (!stop) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0) pending.append(buf, n);
        while (pending.size() >= 10) {
            const int len = quint8(pending[8]) | (quint8(pending[9]) << 8);
            if (pending.size() < len) break;
            QByteArray answer = pending.left(len);
            answer[3] = char(0x0E);
            answer += after;
            pending.remove(0, len);
            (void)::write(master, answer.constData(), size_t(answer.size()));
            if (acked) ++*acked;
        }
    }
}
} // namespace

class TstExchange : public QObject {
    Q_OBJECT
private slots:
    void connectionRequest();
    void threeBytesOfType101();
    void fragments_data();
    void fragments();
    void unlistedTypeSendsNothing();
    void countBeyondBufferIsRefused();
    void acknowledgedTransfer();
    void missingAcknowledgementStops();
    void receivedPacketIsStoredAndLogged();
    void endOfTransferEmptiesBuffer();
    void fragmentsInPieces();
    void stopResetClear();
    void receiveSplits_data();
    void receiveSplits();
    void outsideClear_data();
    void outsideClear();
    void endlessStreamStaysSmall();
    void ackFollowedByAnotherPacket();
};

void TstExchange::connectionRequest()
{
    Rig rig;
    rig.obj->RequestProtocolConnection();
    QCOMPARE(rig.pty.Read(10), QByteArray::fromHex("c6bf0a00000001000a00"));
    QCOMPARE(rig.Lines(), QStringList({"> C6 BF 0A 00 00 00 01 00 0A 00 "}));
    rig.obj->SendProtocolACK();
    QCOMPARE(rig.pty.Read(10), QByteArray::fromHex("c6bf0b00000001000a00"));
}

void TstExchange::threeBytesOfType101()
{
    Rig rig;
    const quint8 data[3] = {1, 2, 3};
    QVERIFY(rig.obj->SendProtocolData(data, 3, 3, 101, false));
    QCOMPARE(rig.pty.Read(15), QByteArray::fromHex("c6bf6500000001000f00010203f2cd"));
    QCOMPARE(rig.Lines(), QStringList({"> BFC6 0065 0000 0001 000F, 01 02 03 CDF2 ", ""}));
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(15));
}

void TstExchange::fragments_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("lengths");
    QTest::newRow("512") << 512 << QList<int>{524};
    QTest::newRow("513") << 513 << QList<int>{524, 13};
    QTest::newRow("1024") << 1024 << QList<int>{524, 524};
    QTest::newRow("1025") << 1025 << QList<int>{524, 524, 13};
    QTest::newRow("0") << 0 << QList<int>{};
}

void TstExchange::fragments()
{
    QFETCH(int, count);
    QFETCH(QList<int>, lengths);
    Rig rig(false);
    std::vector<quint8> buffer(2048);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = quint8(i * 7);
    QVERIFY(rig.obj->SendProtocolData(buffer.data(), int(buffer.size()), count, 101, false));
    int total = 0;
    for (int l : lengths) total += l;
    const QList<QByteArray> packets = SplitPackets(rig.pty.Read(total, 2000));
    QCOMPARE(packets.size(), lengths.size());
    QByteArray payload;
    for (int i = 0; i < packets.size(); ++i) {
        const TCvComPack p =
            TCvComPack::FromBytes(reinterpret_cast<const quint8*>(packets[i].constData()), packets[i].size());
        QCOMPARE(int(p.Length), lengths[i]);
        QCOMPARE(int(p.Index), i);
        QCOMPARE(int(p.Total), lengths.size());
        QCOMPARE(p.Checksum(), CvNoChecksum);
        payload += packets[i].mid(10, p.Length - 12);
    }
    QCOMPARE(payload, QByteArray(reinterpret_cast<const char*>(buffer.data()), count));
}

void TstExchange::unlistedTypeSendsNothing()
{
    Rig rig;
    const quint8 data[3] = {1, 2, 3};
    QVERIFY(rig.obj->SendProtocolData(data, 3, 3, 12, false));
    QCOMPARE(rig.pty.ReadFor(50), QByteArray());
}

void TstExchange::countBeyondBufferIsRefused()
{
    Rig rig;
    const quint8 data[3] = {1, 2, 3};
    QVERIFY(!rig.obj->SendProtocolData(data, 3, 4, 101, false));
    QCOMPARE(rig.pty.ReadFor(50), QByteArray());
}

void TstExchange::acknowledgedTransfer()
{
    Rig rig(false);
    std::atomic<bool> stop{false};
    std::atomic<int> acked{0};
    const int master = rig.pty.MasterFd();
    // The device: answers every fragment with its acknowledgement type.
    std::thread peer([&] { AnswerWithAcks(master, stop, QByteArray(), &acked); });
    std::vector<quint8> buffer(1100, 0x5A);
    std::optional<bool> result;
    QVERIFY(rig.obj->SendProtocolData(buffer.data(), int(buffer.size()), int(buffer.size()), 101, true,
                                      [&](bool ok) { result = ok; }));
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 15000);
    stop = true;
    peer.join();
    QVERIFY(*result);
    QCOMPARE(acked.load(), 3);
}

void TstExchange::missingAcknowledgementStops()
{
    Rig rig(false);
    rig.obj->SetProtocolAckTimeout(200);
    std::vector<quint8> buffer(1100, 0x5A);
    std::optional<bool> result;
    QVERIFY(rig.obj->SendProtocolData(buffer.data(), int(buffer.size()), int(buffer.size()), 101, true,
                                      [&](bool ok) { result = ok; }));
    // The wait runs in the event loop: the call has returned before any answer could count.
    QVERIFY(!result.has_value());
    QVERIFY(rig.obj->AckTransferRunning());
    QTRY_VERIFY(result.has_value());
    QVERIFY(!*result);
    const QList<QByteArray> packets = SplitPackets(rig.pty.ReadFor(100));
    QCOMPARE(packets.size(), 1);
    QCOMPARE(packets[0].mid(2, 2), QByteArray::fromHex("650b"));
    QCOMPARE(rig.Lines().last(),
             QStringLiteral("No acknowledgement of packet 1 of 3 within 200 ms: the transfer stopped."));
}

void TstExchange::receivedPacketIsStoredAndLogged()
{
    Rig rig;
    rig.pty.Write(Packet(101, 0, 1, QByteArray::fromHex("010203")));
    QTRY_COMPARE(rig.obj->GetPacks(), 1);
    QTRY_COMPARE(rig.Lines(), QStringList({"BFC6 0065 0000 0001 000F, 01 02 03 F2 CD "}));
    QVERIFY(!rig.callbacks.isEmpty());
}

void TstExchange::endOfTransferEmptiesBuffer()
{
    Rig rig;
    rig.pty.Write(Packet(101, 0, 1, "ab") + Packet(13, 0, 1, QByteArray()));
    QTRY_COMPARE(rig.obj->GetPacks(), 2);
    QTRY_VERIFY(rig.obj->InternalBufferCopy().isEmpty());
    QTRY_VERIFY(!rig.obj->PackParserThread()->Awake());
    QCOMPARE(rig.obj->PackParserThread()->StartIndex(), qint64(0));
    QCOMPARE(rig.obj->Protocol()->GetLastPackHead().TypeID, quint16(13));
}

void TstExchange::fragmentsInPieces()
{
    for (int piece = 1; piece <= 40; ++piece) {
        Rig rig(false);
        const QByteArray stream =
            Packet(102, 0, 3, "first") + Packet(102, 1, 3, "second") + Packet(102, 2, 3, "third");
        for (int at = 0; at < stream.size(); at += piece) {
            rig.pty.Write(stream.mid(at, piece));
            QTest::qWait(1);
        }
        QTRY_COMPARE(rig.obj->GetPacks(), 3);
        QTRY_VERIFY(rig.obj->InternalBufferCopy().isEmpty());
        for (int k = 1; k <= 3; ++k) QCOMPARE(int(rig.obj->Protocol()->GetPackByIndex(k).Index), k - 1);
    }
}

void TstExchange::stopResetClear()
{
    Rig rig;
    rig.pty.Write(Packet(13, 0, 1, QByteArray()));
    QTRY_COMPARE(rig.obj->GetPacks(), 1);
    // Asleep: the ring is emptied, the receive buffer left alone.
    rig.pty.Write("\x01\x02\x03");
    QTRY_COMPARE(rig.obj->FComReceiveCount.load(), qint64(10 + 3));
    QTRY_VERIFY(!rig.obj->PackParserThread()->Awake());
    const QByteArray before = rig.obj->InternalBufferCopy();
    rig.obj->PackParserThread()->StopReSetClear();
    QCOMPARE(rig.obj->GetPacks(), 0);
    QCOMPARE(rig.obj->InternalBufferCopy(), before);
    // Awake (a packet is arriving): the receive buffer goes as well.
    rig.pty.Write(Packet(101, 0, 1, QByteArray(100, 'z')).left(40));
    // The three bytes before the head are parsed and gone; the packet's start waits.
    QTRY_COMPARE(rig.obj->InternalBufferCopy().size(), qsizetype(40));
    QTRY_VERIFY(rig.obj->PackParserThread()->Awake());
    rig.obj->PackParserThread()->StopReSetClear();
    QVERIFY(rig.obj->InternalBufferCopy().isEmpty());
    QCOMPARE(rig.obj->PackParserThread()->StartIndex(), qint64(0));
}

void TstExchange::receiveSplits_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<int>>("cuts");
    QTest::addColumn<QList<int>>("types");
    const QByteArray end = Packet(13, 0, 1, QByteArray());
    const QByteArray data = Packet(101, 0, 1, "abc");
    const QByteArray last102 = Packet(102, 0, 1, "xy");
    const QByteArray ack = Packet(0x0E65, 0, 1, "zz");
    const QByteArray frags = Packet(102, 0, 3, "one") + Packet(102, 1, 3, "two") + Packet(102, 2, 3, "three");
    QTest::newRow("end + 6 bytes of the next | rest") << end + data << QList<int>{16} << QList<int>{13, 101};
    QTest::newRow("end + 9 bytes of the next | rest") << end + data << QList<int>{19} << QList<int>{13, 101};
    QTest::newRow("final 102 + whole 101 in one read")
        << last102 + data << QList<int>{} << QList<int>{102, 101};
    QTest::newRow("ack + whole 101 in one read") << ack + data << QList<int>{} << QList<int>{0x0E65, 101};
    QTest::newRow("ack + 6 bytes | rest")
        << ack + data << QList<int>{int(ack.size()) + 6} << QList<int>{0x0E65, 101};
    QTest::newRow("three 102 + end + 101 in one read")
        << frags + end + data << QList<int>{} << QList<int>{102, 102, 102, 13, 101};
    QList<int> sevens;
    for (int at = 7; at < frags.size() + data.size(); at += 7) sevens << at;
    QTest::newRow("three 102 + 101, 7 bytes a read")
        << frags + data << sevens << QList<int>{102, 102, 102, 101};
    QTest::newRow("junk | end + junk + 101 + 4 bytes | rest")
        << QByteArray("\x01\x02\x03") + end + QByteArray("\x55\xAA\x09") + data + data
        << QList<int>{3, int(3 + end.size() + 3 + data.size() + 4)} << QList<int>{13, 101, 101};
}

// Whatever way the reads cut the stream, every packet is stored, in order, and the buffer
// ends empty.
void TstExchange::receiveSplits()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<int>, cuts);
    QFETCH(QList<int>, types);
    Rig rig(false);
    int from = 0;
    for (int cut : cuts + QList<int>{int(stream.size())}) {
        rig.Receive(stream.mid(from, cut - from));
        // The worker has the piece before the next comes, so each piece is a read of its own.
        QTest::qWait(5);
        from = cut;
    }
    QTRY_COMPARE(rig.obj->GetPacks(), int(types.size()));
    for (int k = 0; k < types.size(); ++k)
        QCOMPARE(int(rig.obj->Protocol()->GetPackByIndex(k + 1).TypeID), types[k]);
    QTRY_VERIFY(rig.obj->InternalBufferCopy().isEmpty());
}

void TstExchange::outsideClear_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("storedBefore");
    const QByteArray data = Packet(101, 0, 1, QByteArray(40, 'd'));
    QTest::newRow("after whole packets") << data.repeated(5) << 5;
    QTest::newRow("with a packet half arrived") << data.repeated(5) + data.left(20) << 5;
    QTest::newRow("after a finished transfer") << data.repeated(2) + Packet(13, 0, 1, QByteArray()) << 3;
}

// The receive buffer emptied from outside (a new page, a release, the hidden view's clear):
// the parser starts on what comes next instead of skipping it.
void TstExchange::outsideClear()
{
    QFETCH(QByteArray, before);
    QFETCH(int, storedBefore);
    Rig rig(false);
    rig.Receive(before);
    QTRY_COMPARE(rig.obj->GetPacks(), storedBefore);
    QTest::qWait(20);
    rig.obj->ClearInternalBuff(100);
    rig.Receive(Packet(101, 0, 1, "x") + Packet(101, 0, 1, "y") + Packet(101, 0, 1, "z"));
    QTRY_COMPARE(rig.obj->GetPacks(), storedBefore + 3);
    QCOMPARE(rig.obj->Protocol()->GetPackByIndex(storedBefore + 3).data[0], quint8('z'));
}

// 500 packets of 212 bytes and no end of transfer: what is parsed leaves the buffer.
void TstExchange::endlessStreamStaysSmall()
{
    Rig rig(false);
    const QByteArray data = Packet(101, 0, 1, QByteArray(200, 'e'));
    QCOMPARE(data.size(), 212);
    for (int i = 0; i < 25; ++i) rig.Receive(data.repeated(20));
    QTRY_COMPARE(rig.obj->GetPacks(), 500);
    QTRY_VERIFY(rig.obj->InternalBufferCopy().isEmpty());
}

// The device acknowledges and sends a packet of its own in the same write.
void TstExchange::ackFollowedByAnotherPacket()
{
    Rig rig(false);
    rig.obj->SetProtocolAckTimeout(3000);
    std::atomic<bool> stop{false};
    const int master = rig.pty.MasterFd();
    const QByteArray chatter = Packet(101, 0, 1, "chatter");
    std::thread peer([&] { AnswerWithAcks(master, stop, chatter, nullptr); });
    std::vector<quint8> buffer(1100, 0x5A);
    std::optional<bool> result;
    QVERIFY(rig.obj->SendProtocolData(buffer.data(), int(buffer.size()), int(buffer.size()), 101, true,
                                      [&](bool ok) { result = ok; }));
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 15000);
    stop = true;
    peer.join();
    QVERIFY(*result);
}

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
