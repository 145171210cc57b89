#include "link/handshake.h"

#include "link/command_reply.h"
#include "link/frame.h"
#include "link/reply_shape.h"
#include "link/result_codes.h"
#include "link/status_retry.h"

namespace zendrik {
namespace {

// The reader needs longer than usual to answer a handshake over USB.
constexpr int kHandshakeFirstWaitMs = 100;
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kLowNibbleMask = 0x0F;
// The reply's one data byte holds the reader kind and the low value.
constexpr ReplyShape kDescriptorReply = ReplyShape::Exactly(1);

}  // namespace

int32_t Handshake(Link& link, uint8_t address, uint8_t value, HandshakeInfo& info) {
    const uint8_t data[] = {value};
    const auto request = BuildStandardFrame(address, command::kHandshake, data);
    LongReply reply{};
    // Only the reply decides, and a reply without its data byte is refused rather than read from
    // its CRC.
    if (const int32_t judged = ExchangeAndJudge(link, ExchangeVariant::Waited(kHandshakeFirstWaitMs), request,
                                                reply, kDescriptorReply);
        judged != result::kOk) {
        return UnansweredResultOf(link, judged, result::kStatus);
    }
    const uint8_t descriptor = reply[kOffsetData];
    info.readerKind = static_cast<uint8_t>(descriptor >> kNibbleBits);
    info.lowValue = static_cast<uint8_t>(descriptor & kLowNibbleMask);
    link.set_reader_kind(info.readerKind);
    link.set_settle_pending(true);
    return result::kOk;
}

}  // namespace zendrik
