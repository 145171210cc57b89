#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "exports/zendrik_session.h"
#include "link/handshake.h"
#include "link/link.h"
#include "rules/card_number.h"
#include "session/address.h"
#include "session/link_turns.h"
#include "session/presence.h"
#include "session/session_clock.h"

namespace zendrik::session {

// EPC bytes an event holds. EPCs are at most 62 bytes (31 words by their PC word), so a read that
// claims more is damaged.
inline constexpr std::size_t kMaxEpcBytes = ZENDRIK_EPC_CAPACITY;

// What one inventory round brought: a tag (ZENDRIK_OK), an answer without one (ZENDRIK_NO_TAG), or
// the failure of the exchange.
struct TagRound {
    int32_t code = 0;
    Epc epc;
    int32_t antenna = -1;  // -1 where the reader's kind sends none
    int32_t rssi = -1;
    std::string card;  // empty when the card number cannot be formed
};

// One reader: its own link and what the session knows of the reader. Calls that use the link run
// one at a time, on the thread that makes them, while holding a turn on the link (see
// CallerTurn); the inventory takes its turns between rounds and lets callers go first.
class ReaderSession {
  public:
    ReaderSession(std::string addressText, ReaderAddress address, std::unique_ptr<Link> link,
                  SessionClock& clock);
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    const std::string& address_text() const { return addressText_; }
    const std::string& id() const { return id_; }
    void set_id(std::string id) { id_ = std::move(id); }
    SessionClock& clock() { return clock_; }

    // The next sequence number of this reader's events, from 1.
    uint64_t NextSeq() { return seq_.fetch_add(1, std::memory_order_relaxed) + 1; }

    // A caller's turn on the link: waits for the inventory's current round (if one runs) and then
    // holds the link until the turn goes.
    LinkTurns::Turn CallerTurn() { return turns_.ForCaller(); }
    // The inventory's turn: first lets every caller waiting for a turn have theirs. Nothing when
    // `until` comes first.
    std::optional<LinkTurns::Turn> InventoryTurn(std::optional<Clock::TimePoint> until) {
        return turns_.ForInventory(until);
    }

    // ---- With a turn held -----------------------------------------------------------------
    // Opens the transport and greets the reader; on success the session is connected. The card rule
    // is read again before the next tag read.
    int32_t Connect();
    // Connects unless connected already.
    int32_t EnsureConnected();
    bool connected() const { return connected_; }
    // After the link failed: the next operation connects afresh.
    void MarkDisconnected();
    // Notes the result of an operation: a failure of the link itself marks the session
    // disconnected. Returns `result`.
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

    // One tag read (the card rule loaded already, or no card numbers).
    TagRound ReadTagRound();

    Link& link() { return *link_; }

  private:
    std::string addressText_;
    ReaderAddress address_;
    std::unique_ptr<Link> link_;
    SessionClock& clock_;
    std::string id_;
    std::atomic<uint64_t> seq_{0};

    LinkTurns turns_;

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
