#include "link/crc16.h"

#include <array>

namespace zendrik {
namespace {

constexpr uint16_t kReflectedPolynomial = 0xA001;

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned value = 0; value < table.size(); ++value) {
        uint16_t crc = static_cast<uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ kReflectedPolynomial)
                             : static_cast<uint16_t>(crc >> 1);
        }
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t Crc16(std::span<const uint8_t> bytes) {
    uint16_t crc = 0;
    for (uint8_t byte : bytes) {
        crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ byte) & 0xFFu]);
    }
    return crc;
}

}  // namespace zendrik
