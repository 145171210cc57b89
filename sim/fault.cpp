#include "sim/fault.h"

#include <algorithm>

#include "link/crc16.h"
#include "link/frame.h"

namespace zendrik::sim {
namespace {

// Inverting every bit of the CRC's low byte changes the CRC whatever it was.
constexpr uint8_t kCrcFlipMask = 0xFF;

// Offset of the CRC's low byte in a frame with L data bytes.
std::size_t CrcOffset(const std::vector<uint8_t>& frame) {
    return kOffsetData + frame[kOffsetLengthLow];
}

void WriteCrc(std::vector<uint8_t>& frame) {
    const std::size_t offset = CrcOffset(frame);
    const uint16_t crc =
        Crc16(std::span<const uint8_t>(frame).subspan(kOffsetAddress, offset - kOffsetAddress));
    frame[offset] = static_cast<uint8_t>(crc & 0xFFu);
    frame[offset + 1] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace

void FaultPlan::Add(const FaultRule& rule) {
    if (rule.remaining && *rule.remaining == 0) {
        return;
    }
    rules_.push_back(rule);
}

std::optional<Fault> FaultPlan::Take(const Request& request) {
    const auto rule = std::find_if(rules_.begin(), rules_.end(), [&](const FaultRule& candidate) {
        return candidate.target.Matches(request);
    });
    if (rule == rules_.end()) {
        return std::nullopt;
    }
    const Fault fault = rule->fault;
    if (rule->remaining && --*rule->remaining == 0) {
        rules_.erase(rule);
    }
    return fault;
}

std::optional<Reply> ApplyFault(const Fault& fault, std::vector<uint8_t> frame) {
    switch (fault.kind) {
        case FaultKind::kSilence:
            return std::nullopt;
        case FaultKind::kCorruptCrc:
            frame[CrcOffset(frame)] ^= kCrcFlipMask;
            break;
        case FaultKind::kStatus:
            frame[kOffsetStatus] = fault.status;
            WriteCrc(frame);
            break;
        case FaultKind::kStrayBytes:
            frame.insert(frame.begin(), fault.strayCount, kStrayByte);
            break;
        case FaultKind::kLate:
            return Reply{std::move(frame), fault.delay};
        case FaultKind::kCutShort:
            frame.resize(std::min(frame.size(), fault.keptBytes));
            break;
    }
    return Reply{std::move(frame)};
}

}  // namespace zendrik::sim
