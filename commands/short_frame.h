#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zendrik {

// The second request family: 0x40, N, command, data..., checksum, where N counts the bytes after
// itself (command, data and checksum). No address, no CRC, no end byte. The reader answers with a
// standard reply frame, whose byte 2 is 0 for success.
inline constexpr uint8_t kShortFrameStart = 0x40;
inline constexpr uint8_t kShortFrameStatusOk = 0;
// The command byte and the checksum, counted by N besides the data.
inline constexpr std::size_t kShortFrameCountedOverhead = 2;
// The start byte and N itself, which N does not count.
inline constexpr std::size_t kShortFrameHeader = 2;

namespace short_command {
inline constexpr uint8_t kGetConfig = 0x00;
inline constexpr uint8_t kSetBaudRate = 0x01;
inline constexpr uint8_t kGetReaderVersion = 0x02;
inline constexpr uint8_t kReadBasicParam = 0x06;
inline constexpr uint8_t kWriteBasicParam = 0x09;
inline constexpr uint8_t kSetAntenna = 0x0A;
inline constexpr uint8_t kReadFactoryParameter = 0x0D;
inline constexpr uint8_t kStopAutoRead = 0xE0;
inline constexpr uint8_t kGetListTagId = 0xED;
inline constexpr uint8_t kSetTime = 0xF7;
inline constexpr uint8_t kSetLed = 0xFF;
}  // namespace short_command

// Two's complement of the 8-bit sum of the bytes, so that the frame sums to zero. Only the low 8
// bits of the count are used, as the reader's own routine takes the count as a byte.
uint8_t ShortFrameChecksum(std::span<const uint8_t> bytes);

// Builds the N + 2 bytes of a short frame.
std::vector<uint8_t> BuildShortFrame(uint8_t command, std::span<const uint8_t> data);

}  // namespace zendrik
