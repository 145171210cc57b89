#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "link/link.h"

namespace zendrik {

// The data length of the reply a command expects. A reply frame does not say which request it
// answers, so its length is what tells the answer to this command from a late answer to another
// (a version text taken for a serial number, a tag read taken for a version).
struct ReplyShape {
    std::size_t reads = 0;   // data bytes the command takes from the reply: fewer is never its answer
    std::size_t fewest = 0;  // the data lengths the reader answers the command with, which a link
    std::size_t most = 0;    // whose rules ask for exact shapes requires

    static constexpr ReplyShape Exactly(std::size_t length) { return {length, length, length}; }
    // A reply the command judges by its status alone.
    static constexpr ReplyShape Any() { return {0, 0, std::numeric_limits<std::size_t>::max()}; }
};

// Judges the reply that the exchange just made on `link` brought, for a command that expects
// `shape`. result::kOk when the reader accepted the request (status 200) and the reply has the
// shape under the link's rules. Otherwise the reply may be the late answer to an earlier request,
// and the link is told so (Link::SuspectLateReply): result::kStatus for another status, and for a
// reply that lacks bytes the command reads under ReplyShapes::kAtLeastWhatIsRead;
// result::kBadReply for a data length the command is never answered with under ReplyShapes::kExact.
int32_t JudgeReply(Link& link, std::span<const uint8_t> reply, const ReplyShape& shape);

// One exchange of `request` into `reply`, judged: the exchange's own failure, or JudgeReply's verdict.
int32_t ExchangeAndJudge(Link& link, const ExchangeVariant& variant, std::span<const uint8_t> request,
                         std::span<uint8_t> reply, const ReplyShape& shape);

}  // namespace zendrik
