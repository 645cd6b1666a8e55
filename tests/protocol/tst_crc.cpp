#include "Corvane_CRC.h"
#include "CvProtocol.h"

#include <QtTest>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

class TstCrc : public QObject {
    Q_OBJECT

private slots:
    void knownValues_data();
    void knownValues();
    void onlyLeadingBytesCount();
    void tableEntries_data();
    void tableEntries();
    void fastMatchesBitwise();
    void appendedChecksumLeavesZero();
    void otherChecksums_data();
    void otherChecksums();
    void checksumBytesLowFirst_data();
    void checksumBytesLowFirst();
    void crc32MatchesBitwiseReference();
    void xmodemCrc_data();
    void xmodemCrc();
};

namespace {

const std::uint8_t* bytes(const QByteArray& a)
{
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

std::vector<std::uint8_t> randomBytes(std::size_t n, unsigned salt)
{
    std::mt19937 gen(salt);
    std::uniform_int_distribution<int> dist(0, 255);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(dist(gen));
    return v;
}

} // namespace

void TstCrc::knownValues_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("expected");

    QTest::newRow("digits 1 to 9") << QByteArray("123456789") << 9 << 0x4B37;
    QTest::newRow("abc") << QByteArray("abc") << 3 << 0x5749;
    QTest::newRow("length 0") << QByteArray("abc") << 0 << 0xFFFF;
    QTest::newRow("negative length") << QByteArray("abc") << -1 << 0xFFFF;
    QTest::newRow("most negative length") << QByteArray("abc") << std::numeric_limits<int>::min() << 0xFFFF;
}

void TstCrc::knownValues()
{
    QFETCH(QByteArray, data);
    QFETCH(int, length);
    QFETCH(int, expected);

    QCOMPARE(CalCRC16Bitwise(bytes(data), length), expected);
    QCOMPARE(CalCRC16Fast(bytes(data), length), expected);
    QCOMPARE(TCvComProtocal::CalCRC16(bytes(data), length), expected);
}

void TstCrc::onlyLeadingBytesCount()
{
    // A 512-byte payload area whose tail is noise: only the first Length bytes may matter.
    auto area = randomBytes(CvMaxPayload, 7);
    const QByteArray digits("123456789");
    std::copy(digits.begin(), digits.end(), area.begin());

    QCOMPARE(CalCRC16Fast(area.data(), 9), 0x4B37);
    QCOMPARE(CalCRC16Bitwise(area.data(), 9), 0x4B37);
    for (std::size_t i = 9; i < area.size(); ++i) area[i] = static_cast<std::uint8_t>(~area[i]);
    QCOMPARE(CalCRC16Fast(area.data(), 9), 0x4B37);
    QCOMPARE(CalCRC16Bitwise(area.data(), 9), 0x4B37);
}

void TstCrc::tableEntries_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("expected");

    QTest::newRow("T[0]") << 0 << 0x0000;
    QTest::newRow("T[1]") << 1 << 0xC0C1;
    QTest::newRow("T[2]") << 2 << 0xC181;
    QTest::newRow("T[255]") << 255 << 0x4040;
}

void TstCrc::tableEntries()
{
    QFETCH(int, index);
    QFETCH(int, expected);

    QCOMPARE(CRC16Table()[static_cast<std::size_t>(index)], expected);
}

void TstCrc::fastMatchesBitwise()
{
    // Every length around the 8-byte blocks and past a full packet, from every alignment.
    const auto data = randomBytes(600 + 8, 20240611);
    for (int offset = 0; offset < 8; ++offset)
        for (int len = 0; len <= 600; ++len) {
            const std::uint8_t* p = data.data() + offset;
            if (CalCRC16Fast(p, len) != CalCRC16Bitwise(p, len))
                QFAIL(qPrintable(QStringLiteral("mismatch at offset %1 length %2").arg(offset).arg(len)));
        }
}

void TstCrc::appendedChecksumLeavesZero()
{
    // A reflected CRC without final XOR checks to zero over the data followed by its
    // checksum low byte first: the packet's byte order is the one that closes the loop.
    for (int len : {0, 1, 9, 511, 512}) {
        auto data = randomBytes(static_cast<std::size_t>(len) + 2, static_cast<unsigned>(len));
        const std::uint16_t crc = CalCRC16Fast(data.data(), len);
        CvWriteWord(data.data() + len, crc);
        QCOMPARE(CalCRC16Fast(data.data(), len + 2), 0);
    }
}

void TstCrc::otherChecksums_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("length");
    QTest::addColumn<quint32>("expected");

    const QByteArray digits("123456789");
    QTest::newRow("modbus check") << int(TChecksumKind::Crc16Modbus) << digits << 9 << quint32(0x4B37);
    QTest::newRow("ccitt-false check")
        << int(TChecksumKind::Crc16CcittFalse) << digits << 9 << quint32(0x29B1);
    QTest::newRow("crc-32 check") << int(TChecksumKind::Crc32) << digits << 9 << quint32(0xCBF43926u);
    // 0x31 ^ 0x32 ^ ... ^ 0x39 and 0x31 + ... + 0x39 = 0x1DD.
    QTest::newRow("xor check") << int(TChecksumKind::Xor8) << digits << 9 << quint32(0x31);
    QTest::newRow("sum check") << int(TChecksumKind::Sum8) << digits << 9 << quint32(0xDD);
    QTest::newRow("ccitt-false empty")
        << int(TChecksumKind::Crc16CcittFalse) << digits << 0 << quint32(0xFFFF);
    QTest::newRow("crc-32 empty") << int(TChecksumKind::Crc32) << digits << 0 << quint32(0);
    QTest::newRow("crc-32 negative length") << int(TChecksumKind::Crc32) << digits << -3 << quint32(0);
    QTest::newRow("xor empty") << int(TChecksumKind::Xor8) << digits << 0 << quint32(0);
    QTest::newRow("sum wraps") << int(TChecksumKind::Sum8) << QByteArray("\xFF\xFF\x03") << 3
                               << quint32(0x01);
    QTest::newRow("crc-32 one byte") << int(TChecksumKind::Crc32) << QByteArray("a") << 1
                                     << quint32(0xE8B7BE43u);
}

void TstCrc::otherChecksums()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, data);
    QFETCH(int, length);
    QFETCH(quint32, expected);

    QCOMPARE(quint32(ChecksumValue(static_cast<TChecksumKind>(kind), bytes(data), length)), expected);
}

void TstCrc::checksumBytesLowFirst_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("modbus") << int(TChecksumKind::Crc16Modbus) << QByteArray("\x37\x4B");
    QTest::newRow("ccitt-false") << int(TChecksumKind::Crc16CcittFalse) << QByteArray("\xB1\x29");
    QTest::newRow("crc-32") << int(TChecksumKind::Crc32) << QByteArray("\x26\x39\xF4\xCB");
    QTest::newRow("xor") << int(TChecksumKind::Xor8) << QByteArray("\x31");
    QTest::newRow("sum") << int(TChecksumKind::Sum8) << QByteArray("\xDD");
}

void TstCrc::checksumBytesLowFirst()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, expected);

    const QByteArray digits("123456789");
    const auto k = static_cast<TChecksumKind>(kind);
    const std::vector<std::uint8_t> got = ChecksumBytes(k, bytes(digits), digits.size());
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.data()), qsizetype(got.size())), expected);
    QCOMPARE(int(got.size()), ChecksumWidth(k));
}

void TstCrc::crc32MatchesBitwiseReference()
{
    // The table form against the defining shift-register form, over lengths and alignments.
    const auto data = randomBytes(300, 99);
    for (int len = 0; len <= 290; ++len) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (int i = 0; i < len; ++i) {
            crc ^= data[std::size_t(i)];
            for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
        if (CalCRC32(data.data(), len) != (crc ^ 0xFFFFFFFFu))
            QFAIL(qPrintable(QStringLiteral("mismatch at length %1").arg(len)));
    }
}

void TstCrc::xmodemCrc_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("expected");
    QTest::newRow("check value") << QByteArray("123456789") << 0x31C3;
    QTest::newRow("empty: the initial value") << QByteArray() << 0x0000;
    QTest::newRow("one byte A") << QByteArray("A") << 0x58E5;
    // A whole block of padding, as the last block of a short file carries it.
    QTest::newRow("128 bytes of 0x1A") << QByteArray(128, '\x1A') << -1;
}

// Not the MODBUS CRC of the framed protocol: init 0, MSB first, and the two bytes sent
// high byte first make the register zero again.
void TstCrc::xmodemCrc()
{
    QFETCH(QByteArray, data);
    QFETCH(int, expected);
    const std::uint16_t crc = CalCRC16Xmodem(bytes(data), int(data.size()));
    if (expected >= 0) QCOMPARE(int(crc), expected);
    QByteArray framed = data;
    framed.append(char(crc >> 8)).append(char(crc & 0xFF));
    QCOMPARE(int(CalCRC16Xmodem(bytes(framed), int(framed.size()))), 0);
    QVERIFY(data.isEmpty() || crc != CalCRC16Fast(bytes(data), int(data.size())));
}

QTEST_APPLESS_MAIN(TstCrc)
#include "tst_crc.moc"
