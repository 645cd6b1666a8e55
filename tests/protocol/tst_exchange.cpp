#include "CvMessageBox.h"
#include "CvProtocol.h"
#include "PortRig.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"

#include <QTest>
#include <QVBoxLayout>

#include <atomic>
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

} // namespace

class TstExchange : public QObject {
    Q_OBJECT
private slots:
    void init() { SetInformationPresenter([](const QString&, const QString&) {}); }
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
        const TCvComPack p = TCvComPack::FromBytes(reinterpret_cast<const quint8*>(packets[i].constData()), packets[i].size());
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
    std::thread peer([&] {
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
                QByteArray ack = pending.left(len);
                ack[3] = char(0x0E);
                pending.remove(0, len);
                (void)::write(master, ack.constData(), size_t(ack.size()));
                ++acked;
            }
        }
    });
    std::vector<quint8> buffer(1100, 0x5A);
    const bool ok = rig.obj->SendProtocolData(buffer.data(), int(buffer.size()), int(buffer.size()), 101, true);
    stop = true;
    peer.join();
    QVERIFY(ok);
    QCOMPARE(acked.load(), 3);
}

void TstExchange::missingAcknowledgementStops()
{
    Rig rig(false);
    rig.obj->SetProtocolAckTimeout(200);
    std::vector<quint8> buffer(1100, 0x5A);
    QVERIFY(!rig.obj->SendProtocolData(buffer.data(), int(buffer.size()), int(buffer.size()), 101, true));
    const QList<QByteArray> packets = SplitPackets(rig.pty.ReadFor(100));
    QCOMPARE(packets.size(), 1);
    QCOMPARE(packets[0].mid(2, 2), QByteArray::fromHex("650b"));
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
        const QByteArray stream = Packet(102, 0, 3, "first") + Packet(102, 1, 3, "second") + Packet(102, 2, 3, "third");
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
    QTRY_COMPARE(rig.obj->InternalBufferCopy().size(), qsizetype(3 + 40));
    QTRY_VERIFY(rig.obj->PackParserThread()->Awake());
    rig.obj->PackParserThread()->StopReSetClear();
    QVERIFY(rig.obj->InternalBufferCopy().isEmpty());
    QCOMPARE(rig.obj->PackParserThread()->StartIndex(), qint64(0));
}

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
