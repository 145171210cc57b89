#include "link/handshake.h"

#include "link/command_reply.h"
#include "link/frame.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

// The reader needs longer than usual to answer a handshake over USB.
constexpr int kHandshakeFirstWaitMs = 100;
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kLowNibbleMask = 0x0F;
// The reply's one data byte holds the reader kind and the low value.
constexpr std::size_t kDescriptorBytes = 1;

}  // namespace

int32_t Handshake(Link& link, uint8_t address, uint8_t value, HandshakeInfo& info) {
    const uint8_t data[] = {value};
    const auto request = BuildStandardFrame(address, command::kHandshake, data);
    LongReply reply{};
    // Only the reply decides: a failed exchange leaves the zeroed buffer, which reads as refusal, and
    // a reply without its data byte is refused too rather than read from its CRC.
    link.Exchange(ExchangeVariant::Waited(kHandshakeFirstWaitMs), request, reply);
    if (!ReplyCarries(reply, kDescriptorBytes)) {
        return result::kStatus;
    }
    const uint8_t descriptor = reply[kOffsetData];
    info.readerKind = static_cast<uint8_t>(descriptor >> kNibbleBits);
    info.lowValue = static_cast<uint8_t>(descriptor & kLowNibbleMask);
    link.set_reader_kind(info.readerKind);
    link.set_settle_pending(true);
    return result::kOk;
}

}  // namespace zendrik
