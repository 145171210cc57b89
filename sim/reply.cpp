#include "sim/reply.h"

#include <algorithm>

#include "link/crc16.h"
#include "link/frame.h"

namespace zendrik::sim {
namespace {

// Byte 1 of a short reply counts what follows it besides the data: status, both length bytes, and
// one more, as the tag list reply has it.
constexpr uint8_t kShortReplyCountExtra = 4;
// record[0] is the length L, record[1] the length's high byte; the rest is data.
constexpr std::size_t kShortRecordHeader = 2;
// CRC (two bytes) and the end byte.
constexpr std::size_t kFrameTrailerBytes = 3;

void AppendCrcAndEnd(std::vector<uint8_t>& frame) {
    const uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(kOffsetAddress));
    frame.push_back(static_cast<uint8_t>(crc & 0xFFu));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(kEndByte);
}

}  // namespace

std::vector<uint8_t> BuildReply(uint8_t address, uint8_t status, std::span<const uint8_t> data) {
    // A reply has the request's layout with the status where the command stood.
    return BuildStandardFrame(address, status, data);
}

bool CanLayOutShortRecord(std::span<const uint8_t> record) {
    if (record.size() < kShortRecordHeader) {
        return false;
    }
    const std::size_t length = record[0];
    return length >= record.size() - kShortRecordHeader && length <= kMaxReplyData;
}

std::vector<uint8_t> BuildShortReply(uint8_t status, std::span<const uint8_t> record) {
    const std::size_t length = record[0];
    // Room for the whole frame first: a vector made from the header alone and then grown by an
    // insert draws a false -Warray-bounds from GCC 12 at -O3 (the copy it flags is the empty one
    // of an insert that fits).
    std::vector<uint8_t> frame;
    frame.reserve(kOffsetData + length + kFrameTrailerBytes);
    frame.insert(frame.end(), {kStartByte, static_cast<uint8_t>(length + kShortReplyCountExtra), status,
                               record[0], record[1]});
    frame.insert(frame.end(), record.begin() + kShortRecordHeader, record.end());
    frame.resize(kOffsetData + length, 0);
    AppendCrcAndEnd(frame);
    return frame;
}

std::vector<uint8_t> BuildShortDataReply(uint8_t status, std::span<const uint8_t> data) {
    std::vector<uint8_t> record{static_cast<uint8_t>(data.size()), 0};
    record.insert(record.end(), data.begin(), data.end());
    return BuildShortReply(status, record);
}

}  // namespace zendrik::sim
