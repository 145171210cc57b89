#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zendrik::sim {

// What the reader sends back for one request: the bytes, and how long it waits before sending them
// (0 for an ordinary reply; more when a late reply is injected).
struct Reply {
    std::vector<uint8_t> bytes;
    std::chrono::milliseconds delay{0};

    bool operator==(const Reply&) const = default;
};

// Status bytes of standard replies besides 200 (kStatusOk). The library turns every one of them
// into a failed command; they differ only for whoever reads a trace.
inline constexpr uint8_t kStatusNoTag = 201;
inline constexpr uint8_t kStatusUnknownCommand = 202;
// Wrong data length, or a value the reader does not take (a power outside its range, a plan it
// cannot lay out).
inline constexpr uint8_t kStatusRefused = 203;

// Status bytes of replies to short frames, where 0 means success.
inline constexpr uint8_t kShortStatusUnknownCommand = 1;
inline constexpr uint8_t kShortStatusRefused = 2;

// Most data bytes a reply may carry and still travel in one 64-byte USB report.
inline constexpr std::size_t kMaxReplyData = 56;

// A standard reply frame: 0xAA, the reader's address, status, length, data, CRC-16, 0x55.
std::vector<uint8_t> BuildReply(uint8_t address, uint8_t status, std::span<const uint8_t> data);

// The reply to a short frame, which the library checks as a standard frame and then reads at fixed
// positions: byte 2 the status, byte 3 onward a record whose first byte doubles as the length L and
// whose second byte stands where the length's high byte is. The record's remaining bytes open the
// data, which is padded with zeros to L bytes. Byte 1 is L + 4, which the tag list caller reads as
// the number of id bytes plus 4. The record must hold at least two bytes, and record[0] must be at
// least record.size() - 2 so that every byte lies inside the frame (CanLayOutShortRecord).
std::vector<uint8_t> BuildShortReply(uint8_t status, std::span<const uint8_t> record);

// A short reply with status `status` and the data bytes `data` (length high byte 0).
std::vector<uint8_t> BuildShortDataReply(uint8_t status, std::span<const uint8_t> data);

// Whether `record` can stand at reply bytes 3.. of a short reply that fits one USB report.
bool CanLayOutShortRecord(std::span<const uint8_t> record);

}  // namespace zendrik::sim
