#pragma once

#include <cstdint>
#include <optional>

#include "link/clock.h"

namespace zendrik {

// How long the serial link waits for one reply byte before calling it a time-out.
inline constexpr Milliseconds kSerialByteGap{200};

// The byte read of the serial link. The line's read waits one whole per-byte time-out when nothing
// arrives, and the link retries it until more than kSerialByteGap has passed since the first try,
// so a byte is given up after the smallest number of per-byte time-outs that exceeds the gap:
// 300 ms at 150 ms per byte, 400 ms at 200, 500 ms at 500, 600 ms at 600.
//
// `readBefore(deadline)` waits for one byte until `deadline` and returns it, or nothing once the
// deadline has come. Each try is measured by its own deadline rather than by when the thread woke
// up, so 200 ms per byte always gives two tries, never one that overshot by a few microseconds.
// A try of no length would never bring the gap closer.
inline Milliseconds SerialTryLength(Milliseconds perByteTimeout) {
    return perByteTimeout > Milliseconds::zero() ? perByteTimeout : Milliseconds{1};
}

// How long ReadSerialByte waits in all for a byte that does not come.
inline Milliseconds SerialByteTimeout(Milliseconds perByteTimeout) {
    const Milliseconds tryLength = SerialTryLength(perByteTimeout);
    return (kSerialByteGap / tryLength + 1) * tryLength;
}

template <typename ReadBefore>
std::optional<uint8_t> ReadSerialByte(Clock& clock, Milliseconds perByteTimeout, ReadBefore&& readBefore) {
    const Milliseconds tryLength = SerialTryLength(perByteTimeout);
    const Clock::TimePoint noted = clock.now();
    Clock::TimePoint tryEnd = noted;
    do {
        tryEnd += tryLength;
        if (const std::optional<uint8_t> byte = readBefore(tryEnd)) {
            return byte;
        }
    } while (tryEnd - noted <= kSerialByteGap);
    return std::nullopt;
}

}  // namespace zendrik
