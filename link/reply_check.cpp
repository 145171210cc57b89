#include "link/reply_check.h"

#include <algorithm>

#include "exports/zendrik.h"
#include "link/crc16.h"
#include "link/frame.h"

namespace zendrik {

int32_t CheckAndCopyReply(std::span<const uint8_t> collected, std::span<uint8_t> reply) {
    if (collected.size() <= kOffsetLengthLow) {
        return ZENDRIK_ERR_BAD_REPLY;
    }
    const std::size_t dataLength = collected[kOffsetLengthLow];
    const std::size_t frameLength = ReplyFrameLength(collected[kOffsetLengthLow]);
    if (frameLength > collected.size() || frameLength > reply.size()) {
        return ZENDRIK_ERR_BAD_REPLY;
    }
    const std::size_t crcOffset = kOffsetData + dataLength;
    const uint16_t expected = Crc16(collected.subspan(kOffsetAddress, kCrcHeaderBytes + dataLength));
    const uint16_t received = static_cast<uint16_t>(collected[crcOffset] | (collected[crcOffset + 1] << 8));
    if (expected != received || collected[0] != kStartByte) {
        return ZENDRIK_ERR_BAD_REPLY;
    }
    std::copy_n(collected.begin(), frameLength, reply.begin());
    return ZENDRIK_OK;
}

}  // namespace zendrik
