#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "zendrik/zendrik.h"
#include "link/frame.h"
#include "link/reply_check.h"
#include "sim/reader.h"

namespace zendrik::sim::testing {

// A reply as the library sees it once it has passed the library's own serial and USB checks.
struct ReplyView {
    std::vector<uint8_t> frame;

    uint8_t status() const { return frame[kOffsetStatus]; }
    std::vector<uint8_t> data() const {
        return {frame.begin() + kOffsetData, frame.begin() + kOffsetData + frame[kOffsetLengthLow]};
    }
};

// Runs the library's reply check; nothing when the reply would be refused.
inline std::optional<ReplyView> CheckedReply(std::span<const uint8_t> bytes) {
    std::array<uint8_t, 300> reply{};
    if (CheckAndCopyReply(bytes, reply) != ZENDRIK_OK) {
        return std::nullopt;
    }
    return ReplyView{{reply.begin(), reply.begin() + ReplyFrameLength(reply[kOffsetLengthLow])}};
}

// Sends `request` to the reader and checks the answer as the library would; fails the test when
// there is none or it does not pass.
inline ReplyView Ask(Reader& reader, std::span<const uint8_t> request) {
    const std::optional<Reply> reply = reader.Answer(request);
    if (!reply) {
        ADD_FAILURE() << "no reply";
        return {std::vector<uint8_t>(kFrameOverhead, 0)};
    }
    std::optional<ReplyView> view = CheckedReply(reply->bytes);
    if (!view) {
        ADD_FAILURE() << "reply fails the library's checks";
        return {std::vector<uint8_t>(kFrameOverhead, 0)};
    }
    return *view;
}

inline ReplyView Ask(Reader& reader, uint8_t command, std::vector<uint8_t> data = {},
                     uint8_t address = kBroadcastAddress) {
    return Ask(reader, BuildStandardFrame(address, command, data));
}

}  // namespace zendrik::sim::testing
