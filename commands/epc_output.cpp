#include "commands/epc_output.h"

#include <algorithm>
#include <cstddef>

#include "link/result_codes.h"

namespace zendrik {

int32_t ExtractEpcField(std::span<const uint8_t> source, bool reverse, uint8_t offset, uint8_t count,
                        std::span<uint8_t> destination) {
    // Byte arguments added in size_t: no wrap can make a field past the end look inside.
    const std::size_t end = std::size_t{offset} + std::size_t{count};
    if (end > source.size() || count > destination.size()) {
        return result::kEpcRange;
    }
    const auto field = source.subspan(offset, count);
    if (reverse) {
        std::reverse_copy(field.begin(), field.end(), destination.begin());
    } else {
        std::copy(field.begin(), field.end(), destination.begin());
    }
    return result::kOk;
}

}  // namespace zendrik
