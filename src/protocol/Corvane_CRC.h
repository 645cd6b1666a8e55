#pragma once

// CRC-16/MODBUS: polynomial 0x8005 reflected (0xA001), initial value 0xFFFF,
// input and output reflected, no final XOR. Check value over "123456789": 0x4B37.

#include <array>
#include <cstdint>

// The defining form, one bit at a time. Kept as the reference the fast form is tested against.
std::uint16_t CalCRC16Bitwise(const std::uint8_t* AData, int Length);

// Slice-by-8 over eight 256-entry tables; the form used on received and sent packets.
std::uint16_t CalCRC16Fast(const std::uint8_t* AData, int Length);

// The classic byte-at-a-time table: T[i] is the register after eight shifts starting from i.
const std::array<std::uint16_t, 256>& CRC16Table();
