#include "link/link.h"

#include <string_view>
#include <utility>

#include "link/frame_trace.h"
#include "link/result_codes.h"
#include "link/settle_override.h"

namespace zendrik {

std::string_view LinkName(LinkType type) {
    switch (type) {
        case LinkType::kUsb:
            return "usb";
        case LinkType::kUdp:
            return "udp";
        case LinkType::kSerial:
            break;
    }
    return "serial";
}

Link::Link(Clock& clock, std::unique_ptr<LinkTransport> transport)
    : clock_(clock), transport_(std::move(transport)) {}

Link::~Link() = default;

int32_t Link::Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                       std::span<uint8_t> reply) {
    // Only the low 8 bits of the request length count.
    request = request.first(request.size() & 0xFFu);
    // Every frame of every link passes here, so this is where ZENDRIK_TRACE shows them.
    const std::string_view linkName = LinkName(type());
    TraceSent(linkName, request);
    late_.BeginExchange();
    const int32_t result = transport_->Exchange(variant, request, reply, replyRules_, late_);
    TraceReceived(linkName, result, reply);
    if (result != result::kOk) {
        SuspectLateReply();
    }
    return result;
}

void Link::set_reply_rules(const ReplyRules& rules) {
    replyRules_ = rules;
    if (rules.lateReplies != LateReplies::kAwaitQuiet) {
        late_.ForgetQuietPeriod();
    }
}

void Link::SettleOnce(Milliseconds duration) {
    if (settlePending_) {
        clock_.wait(SettleOverride().value_or(duration));
        settlePending_ = false;
    }
}

}  // namespace zendrik
