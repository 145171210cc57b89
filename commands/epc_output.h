#pragma once

#include <cstdint>
#include <span>

namespace zendrik {

// Cuts the field source[offset .. offset + count - 1] out of a tag number into
// destination[0 .. count - 1], in order or, with `reverse`, back to front: the bytes a Wiegand
// output puts out (start byte, length and byte order of the Wiegand output settings).
// result::kEpcRange, with nothing written, when the field does not lie inside `source` or does
// not fit `destination`. Nothing past destination[count - 1] is written, and no terminator.
int32_t ExtractEpcField(std::span<const uint8_t> source, bool reverse, uint8_t offset, uint8_t count,
                        std::span<uint8_t> destination);

}  // namespace zendrik
