#include "Corvane_CRC.h"
#include "CvProtocol.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

const std::uint8_t* bytes(const QByteArray& a)
{
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

QByteArray word(quint16 v)
{
    QByteArray a(2, '\0');
    a[0] = static_cast<char>(v & 0xFF);
    a[1] = static_cast<char>(v >> 8);
    return a;
}

QByteArray header(quint16 type, quint16 index, quint16 total, quint16 length, quint16 head = CvPackHead)
{
    return word(head) + word(type) + word(index) + word(total) + word(length);
}

QByteArray headerOnly(quint16 type, quint16 index = 0, quint16 total = 1)
{
    return header(type, index, total, 10);
}

// Payload bytes without 0xC6, so no head can hide inside a packet that a test expects to be rejected.
QByteArray payload(int n, int salt = 1)
{
    QByteArray p(n, '\0');
    for (int i = 0; i < n; ++i) {
        const int b = (salt + i * 13) & 0xFF;
        p[i] = static_cast<char>(b == 0xC6 ? 0x55 : b);
    }
    return p;
}

enum class Sum { Crc, Marker, Wrong };

QByteArray dataPacket(quint16 type, const QByteArray& data, Sum sum = Sum::Crc, quint16 index = 0,
                      quint16 total = 1)
{
    const quint16 crc = CalCRC16Bitwise(bytes(data), static_cast<int>(data.size()));
    quint16 check = crc;
    if (sum == Sum::Marker) check = CvNoChecksum;
    if (sum == Sum::Wrong)
        check = static_cast<quint16>((crc ^ 0x0101) == CvNoChecksum ? crc ^ 0x0202 : crc ^ 0x0101);
    return header(type, index, total, static_cast<quint16>(data.size() + 12)) + data + word(check);
}

QByteArray wireOf(const TCvComPack& pack, int n)
{
    const auto wire = pack.WireBytes();
    return QByteArray(reinterpret_cast<const char*>(wire.data()), n);
}

// An engine with a recording callback. Streams are handed over in exact-size heap copies so
// a sanitizer build catches any read outside them.
struct Harness {
    std::unique_ptr<TCvComProtocal> engine = std::make_unique<TCvComProtocal>();
    std::vector<TCvComPack2> calls;
    std::vector<TCvComPack2> latestDuringCall;

    Harness()
    {
        engine->SetCallBackFun([this](const TCvComPack2& h) {
            calls.push_back(h);
            latestDuringCall.push_back(engine->GetLastPackHead());
        });
    }

    int parse(const QByteArray& stream)
    {
        const auto n = static_cast<std::size_t>(stream.size());
        auto copy = std::make_unique<std::uint8_t[]>(n);
        std::memcpy(copy.get(), stream.constData(), n);
        return engine->ParserPack(copy.get(), static_cast<int>(n));
    }
};

TCvComPack record(quint16 type, quint16 index, quint16 total, quint16 length = 10, quint16 head = CvPackHead)
{
    TCvComPack p;
    p.Head = head;
    p.TypeID = type;
    p.Index = index;
    p.Total = total;
    p.Length = length;
    return p;
}

} // namespace

Q_DECLARE_METATYPE(TCvComPack)

class TstCvProtocol : public QObject {
    Q_OBJECT

private slots:
    void headerOnlyPacket();
    void parserResult_data();
    void parserResult();
    void incompletePacketCompletedLater();
    void falseLengthPassedOverByOneByte_data();
    void falseLengthPassedOverByOneByte();
    void type102StopsScan();
    void ringWrapsAfter1024();
    void clearPacks();
    void indexOutsideRing();
    void isParserComplete_data();
    void isParserComplete();
    void isParserCompleteOnEmptyRing();
    void waitingForAckLooksAtLatest_data();
    void waitingForAckLooksAtLatest();
    void waitingForAckStoredFromAnotherThread();
    void waitingForAckTimesOut();
    void ackStoredSince_data();
    void ackStoredSince();
    void recordWireBytes();
    void checksumPlacement_data();
    void checksumPlacement();
    void readersSeeWholeSlots();
};

void TstCvProtocol::headerOnlyPacket()
{
    Harness h;
    const QByteArray stream = QByteArray::fromHex("C6BF0A00000001000A00");

    QCOMPARE(h.parse(stream), 10);
    QCOMPARE(h.engine->PackListTop(), 1);
    QCOMPARE(h.engine->PackListCount(), 1);
    QCOMPARE(h.calls.size(), 1u);
    const TCvComPack2 expected{CvPackHead, CvTypeConnect, 0, 1, 10};
    QVERIFY(h.calls[0] == expected);
    QVERIFY(h.latestDuringCall[0] == expected); // the callback runs after the store
    QCOMPARE(wireOf(h.engine->GetPackByIndex(1), 10), stream);
}

void TstCvProtocol::parserResult_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("stored");

    const QByteArray full = dataPacket(CvTypeGeneric, payload(512));
    const QByteArray small = dataPacket(CvTypeGeneric, payload(8));

    QTest::newRow("empty") << QByteArray() << 0 << 0;
    QTest::newRow("fewer than 10 bytes") << headerOnly(CvTypeConnect).left(9) << 0 << 0;
    QTest::newRow("junk only") << payload(100) << 91 << 0;
    QTest::newRow("three junk bytes then a packet")
        << QByteArray("\x01\x02\x03") + dataPacket(CvTypeGeneric, payload(5)) << 3 + 17 << 1;
    QTest::newRow("C6 just before a head") << QByteArray("\xC6") + headerOnly(CvTypeConnect) << 11 << 1;
    QTest::newRow("two packets back to back") << headerOnly(CvTypeConnect) + small << 10 + 20 << 2;
    QTest::newRow("second packet incomplete") << small + full.left(100) << 20 << 1;
    QTest::newRow("300 of 524 bytes") << full.left(300) << 0 << 0;
    QTest::newRow("head within the last 9 bytes")
        << payload(20) + QByteArray::fromHex("C6BF0A000000010000") << 20 << 0;
    QTest::newRow("full 524-byte packet") << full << 524 << 1;
    QTest::newRow("511-byte payload") << dataPacket(CvTypeGeneric, payload(511)) << 523 << 1;
    QTest::newRow("empty payload") << dataPacket(CvTypeGeneric, QByteArray()) << 12 << 1;
    QTest::newRow("no-checksum marker") << dataPacket(CvTypeGeneric, payload(30), Sum::Marker) << 42 << 1;
    QTest::newRow("wrong checksum") << dataPacket(CvTypeGeneric, payload(30), Sum::Wrong) << 42 - 9 << 0;
    QTest::newRow("length 525") << header(CvTypeGeneric, 0, 1, 525) + QByteArray(515, '\0') << 516 << 0;
    QTest::newRow("length 12, 10 bytes present") << header(CvTypeGeneric, 0, 1, 12) << 0 << 0;
    QTest::newRow("length 11, 10 bytes present") << header(CvTypeGeneric, 0, 1, 11) << 1 << 0;
    QTest::newRow("length 0, 10 bytes present") << header(CvTypeGeneric, 0, 1, 0) << 1 << 0;
}

void TstCvProtocol::parserResult()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, result);
    QFETCH(int, stored);

    Harness h;
    QCOMPARE(h.parse(stream), result);
    QCOMPARE(h.engine->PackListCount(), stored);
    QCOMPARE(static_cast<int>(h.calls.size()), stored);
    for (int slot = 1; slot <= stored; ++slot) {
        const auto wire = h.engine->GetPackByIndex(slot).WireBytes();
        QVERIFY(TCvComProtocal::CheckPack3(wire.data(), CvPackSize));
        QVERIFY(TCvComPack2::FromBytes(wire.data()) == h.calls[static_cast<std::size_t>(slot - 1)]);
    }
}

void TstCvProtocol::incompletePacketCompletedLater()
{
    Harness h;
    const QByteArray full = dataPacket(CvTypeGeneric, payload(512, 9));
    const QByteArray stream = QByteArray("xyz") + full;

    QCOMPARE(h.parse(stream.left(300)), 3);
    QCOMPARE(h.engine->PackListCount(), 0);
    QVERIFY(h.calls.empty());

    // The caller keeps the bytes from the result on and calls again when the rest arrived.
    QCOMPARE(h.parse(stream.mid(3)), CvPackSize);
    QCOMPARE(h.engine->PackListCount(), 1);
    QCOMPARE(wireOf(h.engine->GetPackByIndex(1), CvPackSize), full);
}

void TstCvProtocol::falseLengthPassedOverByOneByte_data()
{
    QTest::addColumn<int>("length");
    for (int length : {0, 1, 2, 8, 9, 11, 525, 0xFFFF}) QTest::addRow("length %d", length) << length;
}

void TstCvProtocol::falseLengthPassedOverByOneByte()
{
    QFETCH(int, length);

    // A false head whose Length word is the Total of a real header-only packet starting two
    // bytes in: only a scan that moves on by one byte finds it.
    const QByteArray stream = QByteArray::fromHex("C6BFC6BF0A000000") + word(static_cast<quint16>(length)) +
                              QByteArray::fromHex("0A00");
    QVERIFY(!TCvComProtocal::CheckPack3(bytes(stream), CvHeaderSize));
    QVERIFY(TCvComProtocal::CheckPack2(bytes(stream), CvHeaderSize));

    Harness h;
    QCOMPARE(h.parse(stream), 12);
    QCOMPARE(h.engine->PackListCount(), 1);
    const TCvComPack2 expected{CvPackHead, CvTypeConnect, 0, static_cast<std::uint16_t>(length), 10};
    QVERIFY(h.engine->GetLastPackHead() == expected);
}

void TstCvProtocol::type102StopsScan()
{
    Harness h;
    const QByteArray first = dataPacket(CvTypeStopAfter, payload(4), Sum::Crc, 0, 2);
    const QByteArray second = dataPacket(CvTypeStopAfter, payload(6), Sum::Crc, 1, 2);
    const QByteArray stream = first + second;

    QCOMPARE(h.parse(stream), first.size());
    QCOMPARE(h.engine->PackListCount(), 1);
    QVERIFY(!h.engine->IsParserComplete());

    QCOMPARE(h.parse(stream.mid(first.size())), second.size());
    QCOMPARE(h.engine->PackListCount(), 2);
    QVERIFY(h.engine->IsParserComplete());

    // Only the full value 102 stops; 102 with a role marker is just another type.
    Harness marked;
    const quint16 askAck102 = CvAskAckMarker + CvTypeStopAfter;
    const QByteArray both = dataPacket(askAck102, payload(4)) + dataPacket(askAck102, payload(4));
    QCOMPARE(marked.parse(both), both.size());
    QCOMPARE(marked.engine->PackListCount(), 2);
}

void TstCvProtocol::ringWrapsAfter1024()
{
    Harness h;
    const QByteArray big = dataPacket(CvTypeGeneric, payload(512, 3));
    QByteArray stream = big;
    for (int k = 1; k <= 1024; ++k) stream += headerOnly(CvTypeAck, static_cast<quint16>(k));

    QCOMPARE(h.parse(stream), stream.size());
    QCOMPARE(h.engine->PackListCount(), 1025);
    QCOMPARE(static_cast<int>(h.calls.size()), 1025);
    QCOMPARE(h.engine->PackListTop(), 1);
    QCOMPARE(h.engine->GetPackByIndex(1023).Index, 1022);
    QCOMPARE(h.engine->GetPackByIndex(0).Index, 1023); // the 1024th packet

    // The 1025th overwrote only its own 10 bytes of the slot the first packet had.
    const QByteArray slot1 = wireOf(h.engine->GetPackByIndex(1), CvPackSize);
    QCOMPARE(slot1.left(10), headerOnly(CvTypeAck, 1024));
    QCOMPARE(slot1.mid(10), big.mid(10));
}

void TstCvProtocol::clearPacks()
{
    Harness h;
    h.parse(headerOnly(CvTypeConnect) + dataPacket(CvTypeGeneric, payload(40)) + headerOnly(CvTypeEnd));
    QCOMPARE(h.engine->PackListCount(), 3);

    h.engine->ClearPacks();
    QCOMPARE(h.engine->PackListTop(), 0);
    QCOMPARE(h.engine->PackListCount(), 0);
    QVERIFY(h.engine->GetLastPackHead() == TCvComPack2{});
    QCOMPARE(wireOf(h.engine->GetPackByIndex(2), CvPackSize), QByteArray(CvPackSize, '\0'));
    QVERIFY(!h.engine->IsParserComplete());

    h.parse(headerOnly(CvTypeAck));
    QCOMPARE(h.engine->PackListTop(), 1);
    QCOMPARE(h.engine->PackListCount(), 1);
}

void TstCvProtocol::indexOutsideRing()
{
    Harness h;
    h.parse(dataPacket(CvTypeGeneric, payload(40)));
    for (int i : {-1, CvPackListSize, 1 << 30})
        QCOMPARE(wireOf(h.engine->GetPackByIndex(i), CvPackSize), QByteArray(CvPackSize, '\0'));
}

void TstCvProtocol::isParserComplete_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("total");
    QTest::addColumn<bool>("complete");

    QTest::newRow("final fragment of 102") << 102 << 2 << 3 << true;
    QTest::newRow("middle fragment of 102") << 102 << 1 << 3 << false;
    QTest::newRow("final fragment of 101") << 101 << 0 << 1 << false;
    QTest::newRow("end of transfer") << 13 << 0 << 1 << true;
    QTest::newRow("end of transfer, any index") << 13 << 7 << 2 << true;
    QTest::newRow("connection request") << 10 << 0 << 1 << false;
    QTest::newRow("acknowledgement type counts above 101") << 0x0E32 << 0 << 1 << true;
    QTest::newRow("ask-ack type counts above 101") << 0x0B65 << 1 << 2 << true;
    QTest::newRow("acknowledgement, not final") << 0x0E32 << 0 << 2 << false;
    QTest::newRow("index 0xFFFF does not wrap to total 0") << 102 << 0xFFFF << 0 << false;
}

void TstCvProtocol::isParserComplete()
{
    QFETCH(int, type);
    QFETCH(int, index);
    QFETCH(int, total);
    QFETCH(bool, complete);

    auto engine = std::make_unique<TCvComProtocal>();
    engine->AddPackToPackList(
        record(static_cast<quint16>(type), static_cast<quint16>(index), static_cast<quint16>(total)));
    QCOMPARE(engine->IsParserComplete(), complete);
}

void TstCvProtocol::isParserCompleteOnEmptyRing()
{
    auto engine = std::make_unique<TCvComProtocal>();
    QVERIFY(!engine->IsParserComplete());
    QVERIFY(engine->GetLastPackHead() == TCvComPack2{});
}

void TstCvProtocol::waitingForAckLooksAtLatest_data()
{
    QTest::addColumn<TCvComPack>("latest");
    QTest::addColumn<bool>("acknowledged");

    // The packet sent: type 0x32 asking for an acknowledgement, Index 0, Total 1, Length 20.
    QTest::newRow("acknowledgement") << record(0x0E32, 0, 1, 20) << true;
    QTest::newRow("plain type") << record(0x0032, 0, 1, 20) << false;
    QTest::newRow("the request itself") << record(0x0B32, 0, 1, 20) << false;
    QTest::newRow("acknowledges another type") << record(0x0E33, 0, 1, 20) << false;
    QTest::newRow("other index") << record(0x0E32, 1, 1, 20) << false;
    QTest::newRow("other total") << record(0x0E32, 0, 2, 20) << false;
    QTest::newRow("other length") << record(0x0E32, 0, 1, 22) << false;
    QTest::newRow("other head") << record(0x0E32, 0, 1, 20, 0xBFC7) << false;
}

void TstCvProtocol::waitingForAckLooksAtLatest()
{
    QFETCH(TCvComPack, latest);
    QFETCH(bool, acknowledged);

    auto engine = std::make_unique<TCvComProtocal>();
    engine->AddPackToPackList(latest);
    QCOMPARE(engine->WaitingForACK(TCvComPack2{CvPackHead, 0x0B32, 0, 1, 20}, 0), acknowledged);
}

void TstCvProtocol::waitingForAckStoredFromAnotherThread()
{
    Harness h;
    h.parse(headerOnly(CvTypeConnect));
    const QByteArray ack = dataPacket(0x0E32, payload(8), Sum::Marker);
    QCOMPARE(ack.size(), 20);

    std::thread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        h.parse(dataPacket(CvTypeGeneric, payload(3))); // an unrelated store first
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        h.parse(ack);
    });
    const bool acknowledged = h.engine->WaitingForACK(TCvComPack2{CvPackHead, 0x0B32, 0, 1, 20}, 10000);
    peer.join();
    QVERIFY(acknowledged);
}

void TstCvProtocol::waitingForAckTimesOut()
{
    Harness h;
    std::thread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        h.parse(dataPacket(0x0E33, payload(8), Sum::Marker)); // wakes the waiter, acknowledges nothing
    });
    const auto start = std::chrono::steady_clock::now();
    const bool acknowledged = h.engine->WaitingForACK(TCvComPack2{CvPackHead, 0x0B32, 0, 1, 20}, 100);
    const auto waited = std::chrono::steady_clock::now() - start;
    peer.join();

    QVERIFY(!acknowledged);
    QVERIFY(waited >= std::chrono::milliseconds(100));
}

void TstCvProtocol::recordWireBytes()
{
    TCvComPack request = TCvComProtocal::CreatePack(CvTypeConnect);
    request.Total = 1;
    QCOMPARE(wireOf(request, 10), QByteArray::fromHex("C6BF0A00000001000A00"));
    const auto head = request.Header().WireBytes();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(head.data()), 10),
             QByteArray::fromHex("C6BF0A00000001000A00"));

    // Three payload bytes of type 101 without checksum.
    TCvComPack data = TCvComProtocal::CreatePack(CvTypeGeneric);
    data.Total = 1;
    data.Length = 15;
    data.data[0] = 1;
    data.data[1] = 2;
    data.data[2] = 3;
    data.SetChecksum(CvNoChecksum);
    const QByteArray wire = QByteArray::fromHex("C6BF6500000001000F00010203F2CD");
    QCOMPARE(wireOf(data, 15), wire);

    const TCvComPack back = TCvComPack::FromBytes(bytes(wire), static_cast<std::size_t>(wire.size()));
    QVERIFY(back.Header() == (TCvComPack2{0xBFC6, 101, 0, 1, 15}));
    QCOMPARE(back.Checksum(), CvNoChecksum);
    QCOMPARE(back.data[3], 0xF2);
    QCOMPARE(back.data[4], 0xCD);
    QCOMPARE(back.data[5], 0);
    QCOMPARE(back.CRC, 0);

    // Every header word goes low byte first.
    const TCvComPack2 words{0x0102, 0x0304, 0x0506, 0x0708, 0x090A};
    const auto w = words.WireBytes();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(w.data()), 10),
             QByteArray::fromHex("02010403060508070A09"));
    QVERIFY(TCvComPack2::FromBytes(w.data()) == words);
}

void TstCvProtocol::checksumPlacement_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("dataPacket");

    QTest::newRow("empty payload") << 12 << true;
    QTest::newRow("three bytes") << 15 << true;
    QTest::newRow("511 bytes: across data and CRC field") << 523 << true;
    QTest::newRow("full packet: the CRC field") << 524 << true;
    QTest::newRow("header only") << 10 << false;
    QTest::newRow("length 11") << 11 << false;
    QTest::newRow("length 525") << 525 << false;
}

void TstCvProtocol::checksumPlacement()
{
    QFETCH(int, length);
    QFETCH(bool, dataPacket);

    TCvComPack p = TCvComProtocal::CreatePack(CvTypeGeneric);
    p.Length = static_cast<quint16>(length);
    p.SetChecksum(0xABCD);
    const auto wire = p.WireBytes();
    if (!dataPacket) {
        QCOMPARE(p.Checksum(), 0);
        QCOMPARE(wireOf(p, CvPackSize).mid(10), QByteArray(CvPackSize - 10, '\0'));
        return;
    }
    QCOMPARE(wire[static_cast<std::size_t>(length - 2)], 0xCD);
    QCOMPARE(wire[static_cast<std::size_t>(length - 1)], 0xAB);
    QCOMPARE(TCvComPack::FromBytes(wire.data(), wire.size()).Checksum(), 0xABCD);
    if (length == CvPackSize) QCOMPARE(p.CRC, 0xABCD);
}

void TstCvProtocol::readersSeeWholeSlots()
{
    // Each packet's payload is filled with its Index's low byte; a reader must never see a
    // slot half old, half new.
    auto engine = std::make_unique<TCvComProtocal>();
    QByteArray stream;
    for (int k = 0; k < 256; ++k)
        stream += dataPacket(CvTypeGeneric, QByteArray(512, static_cast<char>(k)), Sum::Marker,
                             static_cast<quint16>(k), 256);

    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int round = 0; round < 40; ++round)
            engine->ParserPack(bytes(stream), static_cast<int>(stream.size()));
        done = true;
    });
    int torn = 0;
    int looks = 0;
    while (!done || looks == 0) {
        const TCvComPack p = engine->GetPackByIndex(engine->PackListTop());
        ++looks;
        if (p.Length == 0) continue;
        for (std::uint8_t b : p.data)
            if (b != (p.Index & 0xFF)) {
                ++torn;
                break;
            }
    }
    writer.join();
    QCOMPARE(torn, 0);
    QCOMPARE(engine->PackListCount(), 40 * 256);
}

void TstCvProtocol::ackStoredSince_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("clear");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("acknowledged");
    const QByteArray ack = dataPacket(0x0E32, payload(8), Sum::Marker);
    const QByteArray other = dataPacket(CvTypeGeneric, payload(3));
    QTest::newRow("ack, then another packet in the same read")
        << QByteArray() << false << ack + other << true;
    QTest::newRow("ack, then 1100 other packets")
        << QByteArray() << false << ack + other.repeated(1100) << false;
    QTest::newRow("ack behind 1023 others") << QByteArray() << false << other.repeated(1023) + ack << true;
    QTest::newRow("ack before the request") << ack << false << other << false;
    QTest::newRow("ack after a clear") << other.repeated(5) << true << ack + other << true;
    QTest::newRow("no ack") << QByteArray() << false << other.repeated(3) << false;
}

// Any acknowledgement stored after the request counts, not only the latest packet.
void TstCvProtocol::ackStoredSince()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, clear);
    QFETCH(QByteArray, after);
    QFETCH(bool, acknowledged);
    Harness h;
    h.parse(before);
    const TCvPackMark mark = h.engine->Mark();
    if (clear) h.engine->ClearPacks();
    h.parse(after);
    const TCvComPack2 sent{CvPackHead, 0x0B32, 0, 1, 20};
    QCOMPARE(h.engine->AckStoredSince(sent, mark), acknowledged);
    QCOMPARE(h.engine->WaitingForACK(sent, 0, mark), acknowledged);
}

QTEST_APPLESS_MAIN(TstCvProtocol)
#include "tst_cvprotocol.moc"
