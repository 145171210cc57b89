#pragma once

#include <cstdint>
#include <span>

namespace zendrik {

// CRC-16/ARC: polynomial 0x8005 reflected (0xA001), initial value 0, no final XOR.
// A count of 0 gives 0; the check value of "123456789" is 0xBB3D.
uint16_t Crc16(std::span<const uint8_t> bytes);

}  // namespace zendrik
