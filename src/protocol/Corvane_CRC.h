#pragma once

// CRC-16/MODBUS: polynomial 0x8005 reflected (0xA001), initial value 0xFFFF,
// input and output reflected, no final XOR. Check value over "123456789": 0x4B37.

#include <array>
#include <cstdint>
#include <vector>

// The defining form, one bit at a time. Kept as the reference the fast form is tested against.
std::uint16_t CalCRC16Bitwise(const std::uint8_t* AData, int Length);

// Slice-by-8 over eight 256-entry tables; the form used on received and sent packets.
std::uint16_t CalCRC16Fast(const std::uint8_t* AData, int Length);

// The classic byte-at-a-time table: T[i] is the register after eight shifts starting from i.
const std::array<std::uint16_t, 256>& CRC16Table();

// Checksums offered to the user for hand-built messages. A Length of zero or less
// covers nothing and gives the initial value of the kind (after its final XOR).

// CRC-16/CCITT-FALSE: polynomial 0x1021 not reflected, initial value 0xFFFF, no final
// XOR. Check value over "123456789": 0x29B1.
std::uint16_t CalCRC16CcittFalse(const std::uint8_t* AData, int Length);

// CRC-16/XMODEM, the block check of XMODEM and YMODEM: polynomial 0x1021 not reflected,
// initial value 0, no final XOR; sent high byte first. Check value over "123456789": 0x31C3.
std::uint16_t CalCRC16Xmodem(const std::uint8_t* AData, int Length);

// CRC-32 as zlib and Ethernet compute it: polynomial 0x04C11DB7 reflected (0xEDB88320),
// initial value and final XOR 0xFFFFFFFF. Check value over "123456789": 0xCBF43926.
std::uint32_t CalCRC32(const std::uint8_t* AData, int Length);

// XOR of all bytes, and their sum modulo 256.
std::uint8_t CalXor8(const std::uint8_t* AData, int Length);
std::uint8_t CalSum8(const std::uint8_t* AData, int Length);

// In the order the block-send page lists them.
enum class TChecksumKind { Crc16Modbus = 0, Crc16CcittFalse = 1, Crc32 = 2, Xor8 = 3, Sum8 = 4 };
constexpr int ChecksumKindCount = 5;

// Number of bytes of the kind's result: 2, 2, 4, 1, 1.
int ChecksumWidth(TChecksumKind Kind);
// The result as one value, and as the bytes appended to a message: low byte first.
std::uint32_t ChecksumValue(TChecksumKind Kind, const std::uint8_t* AData, int Length);
std::vector<std::uint8_t> ChecksumBytes(TChecksumKind Kind, const std::uint8_t* AData, int Length);
