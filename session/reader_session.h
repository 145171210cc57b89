#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/handshake.h"
#include "link/link.h"
#include "rules/card_number.h"
#include "session/address.h"
#include "session/events.h"
#include "session/presence.h"
#include "session/session_clock.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::session {

// What one inventory round brought: a tag (ZENDRIK_OK), an answer without one (ZENDRIK_NO_TAG), or
// the failure of the exchange.
struct TagRound {
    int32_t code = 0;
    Epc epc;
    int32_t antenna = -1;  // -1 where the reader's kind sends none
    int32_t rssi = -1;
    std::string card;                   // empty when the card number cannot be formed
    Clock::TimePoint::duration took{};  // from the request sent to the reply taken (or given up)
};

// A tag read waits for its reply as long as a slow reader's round may take (some take a second),
// so that the reply is not left to arrive late; an inventory that has learned its reader's round
// time waits less.
inline constexpr Milliseconds kLongestRound{1500};

// How long a round took, in microseconds as the events carry it.
uint32_t RoundMicroseconds(const TagRound& round);

// One reader: its own link and what the session knows of the reader. Its link is used by one
// thread at a time (the handle's thread, or the opener before that thread starts). Every change
// of the link's state goes to the event sink once: link-up (or link-lost) for the first connection,
// then link-lost when it fails and link-restored when a connection succeeds again.
class ReaderSession {
  public:
    ReaderSession(std::string addressText, ReaderAddress address, std::unique_ptr<Link> link,
                  SessionClock& clock);
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    const std::string& address_text() const { return addressText_; }
    const ReaderAddress& address() const { return address_; }
    const std::string& id() const { return id_; }
    // The head of this reader's event records, made when the id is set.
    const RecordHead& record_head() const { return recordHead_; }
    void set_id(std::string id) {
        recordHead_ = RecordHeadOf(id);
        id_ = std::move(id);
    }
    SessionClock& clock() { return clock_; }

    // The next sequence number of this reader's events, from 1.
    uint64_t NextSeq() { return seq_.fetch_add(1, std::memory_order_relaxed) + 1; }

    // Where the link's changes go; set before the first Connect.
    void set_event_sink(EventSink& sink) { sink_ = &sink; }
    EventSink& sink() { return *sink_; }

    // Opens the transport and greets the reader; on success the session is connected. The card rule
    // is read again before the next tag read. A failure counts as the link's (LinkFailed).
    int32_t Connect();
    // Connects unless connected already.
    int32_t EnsureConnected();
    bool connected() const { return connected_; }
    // The link failed with `result`: the next operation connects afresh, and the stream hears of
    // it unless it has already.
    void LinkFailed(int32_t result);
    // Notes the result of an operation: a failure of the link itself counts as LinkFailed.
    // Returns `result`.
    int32_t Note(int32_t result);

    const HandshakeInfo& handshake() const { return handshake_; }
    // Says goodbye (handshake 0) when connected; the result is not judged.
    void Goodbye();

    int32_t ReadSerialNumber(std::vector<uint8_t>& serial);
    int32_t ReadVersion(std::vector<uint8_t>& version);

    // Reads what card numbers depend on: the output settings (start byte, order) and the
    // Wiegand format.
    int32_t LoadCardRule();
    // Drops the card rule, so that the next read loads it again (after the settings changed).
    void ForgetCardRule() { cardRule_.reset(); }
    bool card_rule_loaded() const { return cardRule_.has_value(); }

    // One tag read (the card rule loaded already, or no card numbers), waiting up to `patience`
    // for the reply when that is longer than the link's own wait.
    TagRound ReadTagRound(Milliseconds patience = kLongestRound);

    Link& link() { return *link_; }

  private:
    std::string addressText_;
    ReaderAddress address_;
    std::unique_ptr<Link> link_;
    SessionClock& clock_;
    std::string id_;
    RecordHead recordHead_;  // of the empty id
    std::atomic<uint64_t> seq_{0};
    EventSink* sink_ = nullptr;

    // What the stream was told of the link last.
    enum class Told { kNothing, kUp, kLost };
    Told told_ = Told::kNothing;
    void Tell(int32_t kind, int32_t error);

    bool connected_ = false;
    HandshakeInfo handshake_;
    std::optional<rules::WiegandChoice> cardRule_;
};

// Whether a result code says that the link itself failed (no answer, a damaged one, the device
// gone), rather than that the reader refused or the caller asked for something wrong.
bool IsLinkFailure(int32_t result);

// Whether it says that the device is gone for sure: nothing left to send on.
bool IsDeviceGone(int32_t result);

}  // namespace zendrik::session
