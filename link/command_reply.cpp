#include "link/command_reply.h"

#include <algorithm>

namespace zendrik {

bool CopyFromReply(std::span<const uint8_t> reply, std::size_t offset, std::span<uint8_t> destination) {
    if (!ReplyHolds(reply, offset, destination.size())) {
        return false;
    }
    std::copy_n(reply.begin() + static_cast<std::ptrdiff_t>(offset), destination.size(), destination.begin());
    return true;
}

}  // namespace zendrik
