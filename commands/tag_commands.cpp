#include "commands/tag_commands.h"

#include "commands/plain_command.h"
#include "commands/short_frame.h"
#include "commands/short_frame_command.h"
#include "commands/short_frame_table.h"
#include "link/command_reply.h"
#include "link/frame.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

// Reply byte 1 of a tag list counts the identifier bytes plus these four.
constexpr uint8_t kTagListCountBias = 4;
constexpr std::size_t kTagListCountOffset = 1;
constexpr std::size_t kTagListIdsOffset = 5;

// Inventorying takes the reader a while; over USB the tag-read exchange waits for it. The other
// links wait byte by byte anyway.
ExchangeVariant TagReadVariant(const Link& link) {
    return link.type() == LinkType::kUsb ? ExchangeVariant::TagRead() : ExchangeVariant::Standard();
}

}  // namespace

int32_t ReadTag(Link& link, uint8_t address, std::span<uint8_t, kTagDataCapacity> data, uint8_t& length) {
    const auto request = BuildStandardFrame(address, command::kReadTag, {});
    StandardReply reply{};
    if (const int32_t result = link.Exchange(TagReadVariant(link), request, reply); result != result::kOk) {
        return result;
    }
    if (!ReplyStatusOk(reply)) {
        return result::kStatus;
    }
    if (!CopyFromReply(reply, kOffsetData, data)) {
        return result::kBadReply;
    }
    length = ReplyDataLength(reply);
    return result::kOk;
}

int32_t ReadId(Link& link, uint8_t address) {
    return RunPlainCommand(link, address, command::kReadTag, {}, {}, ReplyShape::Any());
}

int32_t GetListTagId(Link& link, uint8_t p1, uint8_t p2, uint8_t& count,
                     std::span<uint8_t, kTagListCapacity> ids) {
    const uint8_t data[] = {p1, p2};
    LongReply reply{};
    if (const int32_t result = ExchangeShortFrame(link, short_command::kGetListTagId, data, reply);
        result != result::kOk) {
        return result;
    }
    const uint8_t counted = reply[kTagListCountOffset];
    if (counted < kTagListCountBias) {
        return result::kListEmpty;
    }
    const uint8_t idCount = static_cast<uint8_t>(counted - kTagListCountBias);
    if (!CopyFromReply(reply, kTagListIdsOffset, ids.first(idCount))) {
        return result::kBadReply;
    }
    count = idCount;
    return result::kOk;
}

int32_t StopAutoReadEpc(Link& link) {
    return RunShortFrameCommand(link, short_frame::kStopAutoRead, {}, {});
}

}  // namespace zendrik
