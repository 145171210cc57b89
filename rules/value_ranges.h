#pragma once

#include <cstdint>
#include <optional>

#include "rules/epc_framing.h"
#include "rules/reader_codes.h"

// The values the configuration tool lets an operator write, by setting and reader kind.
namespace zendrik::rules {

struct ValueRange {
    int32_t min;
    int32_t max;

    constexpr bool Contains(int64_t value) const { return value >= min && value <= max; }
};

inline constexpr ValueRange kWiegandIntervalRange{1, 20};  // units of 100 ms
// Seconds. The tool's caption says 1-255, but 255 has always been refused.
inline constexpr ValueRange kTriggerTimeRange{1, 254};
inline constexpr ValueRange kByteRange{0, 255};  // reader address, read interval in seconds
// The Wiegand output puts out bytes of the twelve-byte EPC window: start + length at most 12.
inline constexpr ValueRange kOutputStartRange{0, static_cast<int32_t>(kEpcWindowBytes) - 1};
inline constexpr ValueRange kOutputLengthRange{1, static_cast<int32_t>(kEpcWindowBytes)};

constexpr bool OutputFitsWindow(int64_t start, int64_t length) {
    return start >= 0 && length >= 0 && start + length <= static_cast<int64_t>(kEpcWindowBytes);
}

// The last start byte from which a Wiegand number of the format still lies in the EPC window:
// 9 for Wiegand 26, 8 for Wiegand 34; nothing for an unknown format.
constexpr std::optional<int32_t> LastWiegandStartByte(uint8_t formatCode) {
    const uint8_t bytes = WiegandBytes(formatCode);
    if (bytes == 0) {
        return std::nullopt;
    }
    return static_cast<int32_t>(kEpcWindowBytes) - bytes;
}

// The output power a reader kind takes; its highest is also its factory power. Nothing for a kind
// the tool knows no power for (it then never writes one).
constexpr std::optional<ValueRange> PowerRangeOf(uint8_t kind) {
    switch (kind) {
        case kReaderKind0:
            return ValueRange{0, 33};
        case kReaderKind1:
            return ValueRange{18, 26};
        case kChannelReaderKind:
            return ValueRange{0, 63};
        default:
            return std::nullopt;
    }
}

}  // namespace zendrik::rules
