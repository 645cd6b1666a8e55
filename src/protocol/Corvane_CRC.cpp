#include "Corvane_CRC.h"

#include <cstddef>

namespace {

constexpr std::uint16_t kInit = 0xFFFF;
constexpr std::uint16_t kPolyReflected = 0xA001;

using SliceTables = std::array<std::array<std::uint16_t, 256>, 8>;

constexpr std::uint16_t shiftEight(std::uint16_t crc)
{
    for (int bit = 0; bit < 8; ++bit) {
        const bool low = (crc & 1u) != 0;
        crc = static_cast<std::uint16_t>(crc >> 1);
        if (low) crc ^= kPolyReflected;
    }
    return crc;
}

// Table k advances a byte that still has k more bytes to pass through the register,
// which lets eight bytes be folded in with independent lookups.
constexpr SliceTables makeTables()
{
    SliceTables t{};
    for (unsigned i = 0; i < 256; ++i) t[0][i] = shiftEight(static_cast<std::uint16_t>(i));
    for (std::size_t k = 1; k < t.size(); ++k)
        for (unsigned i = 0; i < 256; ++i) {
            const std::uint16_t prev = t[k - 1][i];
            t[k][i] = static_cast<std::uint16_t>((prev >> 8) ^ t[0][prev & 0xFFu]);
        }
    return t;
}

constexpr SliceTables kTables = makeTables();

static_assert(kTables[0][1] == 0xC0C1 && kTables[0][2] == 0xC181 && kTables[0][255] == 0x4040);

} // namespace

std::uint16_t CalCRC16Bitwise(const std::uint8_t* AData, int Length)
{
    std::uint16_t crc = kInit;
    for (int i = 0; i < Length; ++i) crc = shiftEight(static_cast<std::uint16_t>(crc ^ AData[i]));
    return crc;
}

std::uint16_t CalCRC16Fast(const std::uint8_t* AData, int Length)
{
    std::uint32_t crc = kInit;
    if (Length <= 0) return kInit;
    const std::uint8_t* p = AData;
    std::size_t n = static_cast<std::size_t>(Length);
    const auto& t = kTables;
    // Bytes are read one by one so the result never depends on host byte order or alignment.
    while (n >= 8) {
        const std::uint32_t lo = crc ^ (p[0] | (static_cast<std::uint32_t>(p[1]) << 8));
        crc = t[7][lo & 0xFFu] ^ t[6][lo >> 8] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
              t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n-- > 0) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFFu];
    return static_cast<std::uint16_t>(crc);
}

const std::array<std::uint16_t, 256>& CRC16Table()
{
    return kTables[0];
}

namespace {

constexpr std::array<std::uint16_t, 256> makeCcittTable()
{
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000u) ? (crc << 1) ^ 0x1021u : crc << 1);
        t[i] = crc;
    }
    return t;
}

constexpr std::array<std::uint32_t, 256> makeCrc32Table()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        t[i] = crc;
    }
    return t;
}

constexpr auto kCcittTable = makeCcittTable();
constexpr auto kCrc32Table = makeCrc32Table();

static_assert(kCcittTable[1] == 0x1021 && kCrc32Table[1] == 0x77073096u);

} // namespace

std::uint16_t CalCRC16CcittFalse(const std::uint8_t* AData, int Length)
{
    std::uint16_t crc = 0xFFFF;
    for (int i = 0; i < Length; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ kCcittTable[((crc >> 8) ^ AData[i]) & 0xFFu]);
    return crc;
}

std::uint16_t CalCRC16Xmodem(const std::uint8_t* AData, int Length)
{
    std::uint16_t crc = 0;
    for (int i = 0; i < Length; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ kCcittTable[((crc >> 8) ^ AData[i]) & 0xFFu]);
    return crc;
}

std::uint32_t CalCRC32(const std::uint8_t* AData, int Length)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (int i = 0; i < Length; ++i) crc = (crc >> 8) ^ kCrc32Table[(crc ^ AData[i]) & 0xFFu];
    return crc ^ 0xFFFFFFFFu;
}

std::uint8_t CalXor8(const std::uint8_t* AData, int Length)
{
    std::uint8_t x = 0;
    for (int i = 0; i < Length; ++i) x ^= AData[i];
    return x;
}

std::uint8_t CalSum8(const std::uint8_t* AData, int Length)
{
    unsigned sum = 0;
    for (int i = 0; i < Length; ++i) sum += AData[i];
    return static_cast<std::uint8_t>(sum & 0xFFu);
}

int ChecksumWidth(TChecksumKind Kind)
{
    switch (Kind) {
    case TChecksumKind::Crc16Modbus:
    case TChecksumKind::Crc16CcittFalse: return 2;
    case TChecksumKind::Crc32: return 4;
    case TChecksumKind::Xor8:
    case TChecksumKind::Sum8: return 1;
    }
    return 0;
}

std::uint32_t ChecksumValue(TChecksumKind Kind, const std::uint8_t* AData, int Length)
{
    switch (Kind) {
    case TChecksumKind::Crc16Modbus: return CalCRC16Fast(AData, Length);
    case TChecksumKind::Crc16CcittFalse: return CalCRC16CcittFalse(AData, Length);
    case TChecksumKind::Crc32: return CalCRC32(AData, Length);
    case TChecksumKind::Xor8: return CalXor8(AData, Length);
    case TChecksumKind::Sum8: return CalSum8(AData, Length);
    }
    return 0;
}

std::vector<std::uint8_t> ChecksumBytes(TChecksumKind Kind, const std::uint8_t* AData, int Length)
{
    const std::uint32_t value = ChecksumValue(Kind, AData, Length);
    std::vector<std::uint8_t> out;
    for (int i = 0; i < ChecksumWidth(Kind); ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return out;
}
