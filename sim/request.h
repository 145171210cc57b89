#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zendrik::sim {

enum class FrameFamily : uint8_t { kStandard, kShort };

// Longest data a request to this reader may carry: what fits one 64-byte USB report. The longest
// the library sends is the 32-byte basic parameter block.
inline constexpr std::size_t kMaxRequestData = 56;

// Request logs keep the latest requests only, so that a reader left running does not grow.
inline constexpr std::size_t kRequestLogCapacity = 10000;

// One request as the reader understood it. Short frames carry no address (0 here).
struct Request {
    FrameFamily family = FrameFamily::kStandard;
    uint8_t address = 0;
    uint8_t command = 0;
    std::vector<uint8_t> data;

    bool operator==(const Request&) const = default;
};

// How a request frame at the start of `bytes` ends, from its first bytes alone.
enum class FrameCheck : uint8_t {
    kNeedMore,   // too few bytes yet to tell
    kNotAFrame,  // the first byte does not start a request of this reader, or the length is too large
    kComplete,   // a whole frame of FrameSize bytes, which may still fail its checksum
};

struct FrameProbe {
    FrameCheck check = FrameCheck::kNeedMore;
    std::size_t size = 0;  // the frame's length when known
};

// Looks at the header of a frame at the start of `bytes`: standard frames are L + 8 bytes long
// (L from bytes 3 and 4), short frames N + 2 (N from byte 1).
FrameProbe ProbeFrame(std::span<const uint8_t> bytes);

// Decodes the request frame at the start of `bytes` (bytes after the frame, such as the zero
// padding of a HID report, are ignored). Nothing when the frame is incomplete, too long, or fails
// its CRC-16 or short-frame checksum. The end byte of a standard frame is not checked: the reader
// goes by the length and the CRC, as the library does with replies.
std::optional<Request> ParseRequest(std::span<const uint8_t> bytes);

}  // namespace zendrik::sim
