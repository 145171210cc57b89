#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zendrik {

// The standard frame, requests and replies alike:
//   0xAA, address, command (in a reply: status), length low, length high, data..., CRC low, CRC high, 0x55
// The CRC-16 covers the address through the last data byte.
inline constexpr uint8_t kStartByte = 0xAA;
inline constexpr uint8_t kEndByte = 0x55;
inline constexpr uint8_t kStatusOk = 200;
inline constexpr uint8_t kBroadcastAddress = 0xFF;

inline constexpr std::size_t kOffsetAddress = 1;
inline constexpr std::size_t kOffsetCommand = 2;
inline constexpr std::size_t kOffsetStatus = 2;
inline constexpr std::size_t kOffsetLengthLow = 3;
inline constexpr std::size_t kOffsetLengthHigh = 4;
inline constexpr std::size_t kOffsetData = 5;
// Start byte, address, command, two length bytes, two CRC bytes, end byte.
inline constexpr std::size_t kFrameOverhead = 8;
// Bytes covered by the CRC besides the data: address, command and both length bytes.
inline constexpr std::size_t kCrcHeaderBytes = 4;

// Command codes of the standard frame.
namespace command {
inline constexpr uint8_t kModuleSearch = 0x01;
inline constexpr uint8_t kModuleReadSettings = 0x10;
inline constexpr uint8_t kModuleWriteSettings = 0x11;
inline constexpr uint8_t kHandshake = 0xDC;
inline constexpr uint8_t kVersion = 0xDD;
inline constexpr uint8_t kSetTriggerTime = 0xDE;
inline constexpr uint8_t kGetTriggerTime = 0xDF;
inline constexpr uint8_t kSetReadTagInterval = 0xE0;
inline constexpr uint8_t kGetReadTagInterval = 0xE1;
inline constexpr uint8_t kSetWiegandFormat = 0xE2;
inline constexpr uint8_t kGetWiegandFormat = 0xE3;
inline constexpr uint8_t kSetWiegandInterval = 0xE4;
inline constexpr uint8_t kGetWiegandInterval = 0xE5;
inline constexpr uint8_t kSetWiegandOutBytes = 0xE6;
inline constexpr uint8_t kGetWiegandOutBytes = 0xE7;
inline constexpr uint8_t kSetWorkMode = 0xEA;
inline constexpr uint8_t kGetWorkMode = 0xEB;
inline constexpr uint8_t kSetBuzzer = 0xEC;
inline constexpr uint8_t kGetBuzzer = 0xED;
inline constexpr uint8_t kSetPassword = 0xEE;
inline constexpr uint8_t kGetPassword = 0xEF;
inline constexpr uint8_t kSetOutPower = 0xF0;
inline constexpr uint8_t kGetOutPower = 0xF1;
inline constexpr uint8_t kSetFrequency = 0xF2;
inline constexpr uint8_t kGetFrequency = 0xF3;
inline constexpr uint8_t kReadTag = 0xF6;
inline constexpr uint8_t kFactoryDefault = 0xF7;
inline constexpr uint8_t kSetAddress = 0xF8;
inline constexpr uint8_t kGetAddress = 0xF9;
inline constexpr uint8_t kSerialNumber = 0xFA;
}  // namespace command

// Builds a request frame of data.size() + 8 bytes.
std::vector<uint8_t> BuildStandardFrame(uint8_t address, uint8_t command, std::span<const uint8_t> data);

// Length of the frame whose header starts `frame` (L + 8, from the length low byte).
inline std::size_t ReplyFrameLength(uint8_t lengthLow) { return std::size_t{lengthLow} + kFrameOverhead; }

}  // namespace zendrik
