#include "sim/request.h"

#include "commands/short_frame.h"
#include "link/crc16.h"
#include "link/frame.h"

namespace zendrik::sim {
namespace {

constexpr std::size_t kOffsetShortCount = 1;
constexpr std::size_t kOffsetShortCommand = 2;
constexpr std::size_t kOffsetShortData = 3;
constexpr std::size_t kStandardHeaderSize = kOffsetData;
// The CRC's two bytes and the end byte close a standard frame.
constexpr std::size_t kCrcAndEndSize = 3;

FrameProbe ProbeStandard(std::span<const uint8_t> bytes) {
    if (bytes.size() < kStandardHeaderSize) {
        return {FrameCheck::kNeedMore, 0};
    }
    const std::size_t length = bytes[kOffsetLengthLow] | (std::size_t{bytes[kOffsetLengthHigh]} << 8);
    if (length > kMaxRequestData) {
        return {FrameCheck::kNotAFrame, 0};
    }
    const std::size_t size = length + kFrameOverhead;
    return {bytes.size() >= size ? FrameCheck::kComplete : FrameCheck::kNeedMore, size};
}

FrameProbe ProbeShort(std::span<const uint8_t> bytes) {
    if (bytes.size() <= kOffsetShortCount) {
        return {FrameCheck::kNeedMore, 0};
    }
    const std::size_t counted = bytes[kOffsetShortCount];
    if (counted < kShortFrameCountedOverhead || counted - kShortFrameCountedOverhead > kMaxRequestData) {
        return {FrameCheck::kNotAFrame, 0};
    }
    const std::size_t size = counted + kShortFrameHeader;
    return {bytes.size() >= size ? FrameCheck::kComplete : FrameCheck::kNeedMore, size};
}

std::optional<Request> DecodeStandard(std::span<const uint8_t> frame) {
    const std::size_t crcOffset = frame.size() - kCrcAndEndSize;
    const uint16_t sent = static_cast<uint16_t>(frame[crcOffset] | (frame[crcOffset + 1] << 8));
    if (Crc16(frame.subspan(kOffsetAddress, crcOffset - kOffsetAddress)) != sent) {
        return std::nullopt;
    }
    return Request{FrameFamily::kStandard, frame[kOffsetAddress], frame[kOffsetCommand],
                   std::vector<uint8_t>(frame.begin() + kOffsetData, frame.begin() + crcOffset)};
}

std::optional<Request> DecodeShort(std::span<const uint8_t> frame) {
    const std::size_t checksumOffset = frame.size() - 1;
    if (ShortFrameChecksum(frame.first(checksumOffset)) != frame[checksumOffset]) {
        return std::nullopt;
    }
    return Request{FrameFamily::kShort, 0, frame[kOffsetShortCommand],
                   std::vector<uint8_t>(frame.begin() + kOffsetShortData, frame.begin() + checksumOffset)};
}

}  // namespace

FrameProbe ProbeFrame(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return {FrameCheck::kNeedMore, 0};
    }
    switch (bytes[0]) {
        case kStartByte:
            return ProbeStandard(bytes);
        case kShortFrameStart:
            return ProbeShort(bytes);
        default:
            return {FrameCheck::kNotAFrame, 0};
    }
}

std::optional<Request> ParseRequest(std::span<const uint8_t> bytes) {
    const FrameProbe probe = ProbeFrame(bytes);
    if (probe.check != FrameCheck::kComplete) {
        return std::nullopt;
    }
    const std::span<const uint8_t> frame = bytes.first(probe.size);
    return frame[0] == kStartByte ? DecodeStandard(frame) : DecodeShort(frame);
}

}  // namespace zendrik::sim
