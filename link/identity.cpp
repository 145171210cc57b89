#include "link/identity.h"

#include <array>

#include "link/command_reply.h"
#include "link/frame.h"
#include "link/result_codes.h"
#include "link/status_retry.h"

namespace zendrik {
namespace {

constexpr int kRetryFirstWaitMs = 100;
// The reader answers with a version text of at least one character. Both records are copied
// whatever their length where the rules take every reply that fits the buffer.
constexpr ReplyShape kVersionReply{0, 1, kIdentityCapacity};
constexpr ReplyShape kSerialNumberReply{0, kSerialNumberLength, kSerialNumberLength};

uint8_t CommandFor(IdentityRecord record) {
    return record == IdentityRecord::kVersion ? command::kVersion : command::kSerialNumber;
}

const ReplyShape& ShapeOf(IdentityRecord record) {
    return record == IdentityRecord::kVersion ? kVersionReply : kSerialNumberReply;
}

}  // namespace

int32_t ReadIdentity(Link& link, uint8_t address, IdentityRecord record,
                     std::span<uint8_t, kIdentityCapacity> buffer, std::size_t& length) {
    const auto request = BuildStandardFrame(address, CommandFor(record), {});
    const std::array attempts{ExchangeVariant::Standard(), ExchangeVariant::Waited(kRetryFirstWaitMs)};
    StandardReply reply{};
    if (const int32_t result = ExchangeUntilStatusOk(link, attempts, request, reply, ShapeOf(record));
        result != result::kOk) {
        return result;
    }
    const std::size_t dataLength = ReplyDataLength(reply);
    if (dataLength > buffer.size() || !CopyFromReply(reply, kOffsetData, buffer.first(dataLength))) {
        return result::kStatus;
    }
    length = dataLength;
    return result::kOk;
}

}  // namespace zendrik
