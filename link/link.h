#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "link/clock.h"
#include "link/late_reply_watch.h"
#include "link/link_transport.h"
#include "link/reply_rules.h"

namespace zendrik {

// A link to one reader over one transport, chosen when the link is made: what every medium
// shares, written once. It traces every frame, keeps the late-reply rules, and holds the two items
// the handshake leaves for later commands. Reader sessions make one over the transport their
// address names; the flat exports share a SwitchingLink, whose medium OpenCom and Net_Connect
// choose; tests build their own over fake transports and a simulated clock.
class Link {
  public:
    Link(Clock& clock, std::unique_ptr<LinkTransport> transport);
    virtual ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Sends one request and collects one validated reply over the transport. On result::kOk the
    // whole reply frame (L + 8 bytes) is at the start of `reply`; on failure `reply` is untouched.
    // A reply that does not fit `reply` is refused with result::kBadReply. Under
    // LateReplies::kAwaitQuiet an exchange that follows one whose reply was not taken waits for
    // quiet first (see SuspectLateReply).
    int32_t Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                     std::span<uint8_t> reply);

    // The reply the latest exchange brought was not its command's answer: a refusal, or a data
    // length the command is never answered with, which may be the late answer to an earlier
    // request while the command's own is still on its way. Under LateReplies::kAwaitQuiet the next
    // request then waits until the link has been quiet for this exchange's answer time, as it does
    // after an exchange that failed once its request had gone out.
    void SuspectLateReply() { late_.SuspectLateReply(replyRules_.lateReplies); }

    LinkType type() const { return transport_->type(); }
    LinkTransport& transport() { return *transport_; }
    Clock& clock() { return clock_; }
    const ReplyRules& reply_rules() const { return replyRules_; }
    void set_reply_rules(const ReplyRules& rules);

    uint8_t reader_kind() const { return readerKind_; }
    void set_reader_kind(uint8_t kind) { readerKind_ = kind; }
    bool settle_pending() const { return settlePending_; }
    void set_settle_pending(bool pending) { settlePending_ = pending; }
    // If a handshake left the settle flag set, waits `duration` and clears it.
    void SettleOnce(Milliseconds duration);

  private:
    Clock& clock_;
    std::unique_ptr<LinkTransport> transport_;
    ReplyRules replyRules_;
    LateReplyWatch late_;
    uint8_t readerKind_ = 0;
    bool settlePending_ = false;
};

// The name of a link of `type` in the frame trace: "usb", "serial" or "udp".
std::string_view LinkName(LinkType type);

}  // namespace zendrik
