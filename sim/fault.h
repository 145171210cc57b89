#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/reply.h"
#include "sim/request.h"

namespace zendrik::sim {

// Ways the reader can misbehave on one reply.
enum class FaultKind : uint8_t {
    kSilence,     // no reply at all
    kCorruptCrc,  // the CRC-16 no longer matches
    kStatus,      // another status byte (CRC recomputed, so only the status is wrong)
    kStrayBytes,  // bytes before the start byte
    kLate,        // the reply, after a delay
    kCutShort,    // only the first bytes of the reply
};

struct Fault {
    FaultKind kind = FaultKind::kSilence;
    uint8_t status = kStatusRefused;     // kStatus
    std::size_t strayCount = 0;          // kStrayBytes
    std::chrono::milliseconds delay{0};  // kLate
    std::size_t keptBytes = 0;           // kCutShort

    static Fault Silence() { return {FaultKind::kSilence}; }
    static Fault CorruptCrc() { return {FaultKind::kCorruptCrc}; }
    static Fault Status(uint8_t status) { return {FaultKind::kStatus, status}; }
    static Fault StrayBytes(std::size_t count) { return {FaultKind::kStrayBytes, kStatusRefused, count}; }
    static Fault Late(std::chrono::milliseconds delay) {
        return {FaultKind::kLate, kStatusRefused, 0, delay};
    }
    static Fault CutShort(std::size_t keptBytes) {
        return {FaultKind::kCutShort, kStatusRefused, 0, std::chrono::milliseconds{0}, keptBytes};
    }

    bool operator==(const Fault&) const = default;
};

// The byte put before the start byte by kStrayBytes: neither a start byte of a reply nor of a request.
inline constexpr uint8_t kStrayByte = 0x5A;

// Which requests a fault rule applies to: every request, or one command code of one frame family.
struct FaultTarget {
    std::optional<FrameFamily> family;
    uint8_t command = 0;

    static FaultTarget Any() { return {}; }
    static FaultTarget Command(uint8_t command, FrameFamily family = FrameFamily::kStandard) {
        return {family, command};
    }
    bool Matches(const Request& request) const {
        return !family || (*family == request.family && command == request.command);
    }
};

struct FaultRule {
    FaultTarget target;
    Fault fault;
    std::optional<unsigned> remaining;  // replies still to spoil; none = every matching reply
};

// The fault rules in force. The first rule that matches a request spoils its reply and counts
// down; a rule whose count reaches zero is dropped.
class FaultPlan {
  public:
    void Add(const FaultRule& rule);
    void Clear() { rules_.clear(); }
    bool empty() const { return rules_.empty(); }

    // The fault for this request, if any rule matches; counts the rule down.
    std::optional<Fault> Take(const Request& request);

  private:
    std::vector<FaultRule> rules_;
};

// Applies `fault` to a well-formed reply frame; nothing for silence.
std::optional<Reply> ApplyFault(const Fault& fault, std::vector<uint8_t> frame);

}  // namespace zendrik::sim
