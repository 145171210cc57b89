#pragma once

#include <functional>
#include <optional>

#include "base/backoff.h"
#include "session/events.h"
#include "session/presence.h"
#include "session/reader_session.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::session {

// How an inventory keeps reading.
//
// Rounds: each round is one tag read (command 0xF6). It answers with one tag and its antenna and
// signal strength, which the tag list cannot (that gives bare identifier bytes with no way to tell
// where one EPC ends). After a round that read a tag the next one starts at once: the reader's own
// inventory time paces them. After a round without a tag the next one waits until
// kIdleRoundInterval after the last one began, so an empty field costs a few exchanges a second.
inline constexpr Milliseconds kIdleRoundInterval{50};

// A reader may take far longer for a round than the link's own wait for a reply (some take a
// second): the inventory waits for each tag reply kRoundPatienceFactor times as long as the latest
// round answered took, never less than the link's own wait and never more than
// kLongestRoundPatience. Until a round has been answered it waits the longest, and after one that
// was not, kRoundPatienceFactor times as long as that one waited: a reply given up on would come
// while the next request waits for its own.
inline constexpr int kRoundPatienceFactor = 2;
inline constexpr Milliseconds kLongestRoundPatience = kLongestRound;

// Link loss: the device is gone for sure when a write finds nothing to send on (the USB device or
// serial port has disappeared); otherwise the link counts as lost after kFailedRoundsForLoss
// rounds in a row that got no valid answer (a silent reader, a network that dropped out), so that
// one lost datagram does not tear the link down. Answers that only say "no tag" keep it up.
inline constexpr int kFailedRoundsForLoss = 3;

inline constexpr Milliseconds kDefaultAbsence{3000};
// A lost link waits 100 ms before its first attempt to connect again, doubling with every attempt
// that fails up to 5 s; up to half of each wait is taken off at random, so that readers lost together
// (a switch or a hub going down) do not all retry at once.
inline constexpr base::BackoffPolicy kReaderReconnect{Milliseconds{100}, Milliseconds{5000}};

// The inventory's logic, run one step at a time by the handle's thread, or by a test on a
// simulated clock. Each step does what is due (a round while the link is up, an attempt to connect
// while it is down, the departures of tags not read for the absence time, on time whatever the
// link does), hands its events to the session's sink, and says when the next thing is due.
class InventoryEngine {
  public:
    // Draws a number in [0, 1) for the jitter of the reconnect delays (base::ReconnectDelay).
    using JitterSource = std::function<double()>;

    InventoryEngine(ReaderSession& session, Milliseconds absence, JitterSource jitter);

    Clock::TimePoint Step();
    // Only the departures that are due, for between two requests: they need no link.
    Clock::TimePoint DepartDue();

    bool link_up() const { return session_.connected(); }
    std::size_t tags_present() const { return presence_.present(); }
    // How long the next round waits for the reader's reply at most.
    Milliseconds round_patience() const { return patience_; }

  private:
    void Round();
    TagRound ReadWithCardRule();
    void LearnRoundTime(const TagRound& round);
    void Attempt();
    void LoseLink(int32_t result);
    void Departures();
    Clock::TimePoint NextDue() const;

    ReaderSession& session_;
    PresenceTracker presence_;
    JitterSource jitter_;
    int failedRounds_ = 0;
    base::Backoff backoff_{kReaderReconnect};  // counts the reconnect delays since the link went
    Milliseconds patience_ = kLongestRoundPatience;
    Clock::TimePoint nextRound_;
    Clock::TimePoint nextAttempt_;
};

}  // namespace zendrik::session
