#pragma once

#include <cstdint>
#include <span>

#include "link/clock.h"
#include "link/late_reply_watch.h"
#include "link/reply_rules.h"

namespace zendrik {

enum class LinkType : uint8_t { kUsb = 0, kSerial = 1, kUdp = 2 };

// How one request is sent and its reply collected. On USB the variants differ in the wait before
// the first poll of the reply and between polls; on serial and UDP they all behave alike.
struct ExchangeVariant {
    Milliseconds firstWait;
    Milliseconds pollWait;
    // How long the exchange waits for a reply that is slow to come (a reader busy with a long
    // inventory round), where the link waits until the reply arrives: USB with
    // ReplyWait::kUntilArrived, serial (for the start byte) and UDP. Zero keeps each link's own
    // time-outs; the polled USB window of the flat exports never changes.
    Milliseconds patience{0};

    constexpr ExchangeVariant WithPatience(Milliseconds answerTime) const {
        ExchangeVariant patient = *this;
        patient.patience = answerTime;
        return patient;
    }

    static constexpr ExchangeVariant Standard() { return {Milliseconds{10}, Milliseconds{2}}; }
    // Only the low 8 bits of the first wait count (callers pass 100 and 232).
    static constexpr ExchangeVariant Waited(int firstWaitMs) {
        return {Milliseconds{firstWaitMs & 0xFF}, Milliseconds{2}};
    }
    static constexpr ExchangeVariant TagRead() { return {Milliseconds{300}, Milliseconds{1}}; }

    bool operator==(const ExchangeVariant&) const = default;
};

// One medium that carries the reader's frames: a serial line, the USB HID interface or UDP.
// A transport sends the request and collects one checked reply; what is the same on every medium
// (the trace, the late-reply rules, what the handshake leaves for later commands) is the link's.
class LinkTransport {
  public:
    virtual ~LinkTransport() = default;

    virtual LinkType type() const = 0;

    // Opens the medium afresh for a reader session's connection: locates the USB reader
    // (result::kNoUsbReader when it is not listed), closes and opens the serial device again
    // (OpenCom's results), or does nothing for UDP, whose every exchange makes its own socket.
    virtual int32_t Reopen() = 0;

    // Sends one request and collects one reply. On result::kOk the whole reply frame is at the start
    // of `reply`; on failure `reply` is untouched. A reply that does not fit `reply` is refused
    // with result::kBadReply. Before the request goes out the transport waits for the quiet period
    // `late` holds, if any, and once it is out it tells `late` how long it waits for the answer.
    virtual int32_t Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                             std::span<uint8_t> reply, const ReplyRules& rules, LateReplyWatch& late) = 0;
};

}  // namespace zendrik
