#include "Corvane_CRC.h"

#include <cstddef>

namespace {

constexpr std::uint16_t kInit = 0xFFFF;
constexpr std::uint16_t kPolyReflected = 0xA001;

using SliceTables = std::array<std::array<std::uint16_t, 256>, 8>;

constexpr std::uint16_t shiftEight(std::uint16_t crc) {
    for (int bit = 0; bit < 8; ++bit) {
        const bool low = (crc & 1u) != 0;
        crc = static_cast<std::uint16_t>(crc >> 1);
        if (low) crc ^= kPolyReflected;
    }
    return crc;
}

// Table k advances a byte that still has k more bytes to pass through the register,
// which lets eight bytes be folded in with independent lookups.
constexpr SliceTables makeTables() {
    SliceTables t{};
    for (unsigned i = 0; i < 256; ++i)
        t[0][i] = shiftEight(static_cast<std::uint16_t>(i));
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

std::uint16_t CalCRC16Bitwise(const std::uint8_t* AData, int Length) {
    std::uint16_t crc = kInit;
    for (int i = 0; i < Length; ++i)
        crc = shiftEight(static_cast<std::uint16_t>(crc ^ AData[i]));
    return crc;
}

std::uint16_t CalCRC16Fast(const std::uint8_t* AData, int Length) {
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
    while (n-- > 0)
        crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFFu];
    return static_cast<std::uint16_t>(crc);
}

const std::array<std::uint16_t, 256>& CRC16Table() {
    return kTables[0];
}
