#pragma once

#include <functional>
#include <vector>

#include "exports/zendrik_session.h"
#include "session/presence.h"
#include "session/reader_session.h"

namespace zendrik::session {

// How an inventory keeps reading.
//
// Rounds: each round is one tag read (command 0xF6). It answers with one tag and its antenna and
// signal strength, which the tag list cannot (that gives bare identifier bytes with no way to tell
// where one EPC ends). After a round that read a tag the next one starts at once: the reader's own
// inventory time paces them. After a round without a tag the next one waits until
// kIdleRoundInterval after the last one began, so an empty field costs a few exchanges a second.
inline constexpr Milliseconds kIdleRoundInterval{50};

// Link loss: the device is gone for sure when a write finds nothing to send on (the USB device or
// serial port has disappeared); otherwise the link counts as lost after kFailedRoundsForLoss
// rounds in a row that got no valid answer (a silent reader, a network that dropped out), so that
// one lost datagram does not tear the link down. Answers that only say "no tag" keep it up.
inline constexpr int kFailedRoundsForLoss = 3;

inline constexpr Milliseconds kDefaultAbsence{3000};

// The inventory's logic, run one step at a time by its thread, or by a test on a simulated clock.
// Each step does what is due (a round while the link is up, an attempt to connect while it is
// down, the departures of tags not read for the absence time, on time whatever the link does) and
// says when the next thing is due.
class InventoryEngine {
  public:
    // Draws a number in [0, 1) for the jitter of the reconnect delays.
    using JitterSource = std::function<double()>;

    InventoryEngine(ReaderSession& session, Milliseconds absence, JitterSource jitter);

    // With the session's turn held. Appends the events (not yet numbered) to `events`.
    Clock::TimePoint Step(std::vector<zendrik_event>& events);
    // Only the departures that are due, for when a caller holds the link: they need no link.
    Clock::TimePoint StepWithoutLink(std::vector<zendrik_event>& events);
    // When the next tag departs if it is not read again; nothing while the field is empty.
    std::optional<Clock::TimePoint> NextDeparture() const { return presence_.NextDeparture(); }

    bool link_up() const { return up_; }
    std::size_t tags_present() const { return presence_.present(); }

  private:
    void Round(std::vector<zendrik_event>& events);
    TagRound ReadWithCardRule();
    void Attempt(std::vector<zendrik_event>& events);
    void LoseLink(int32_t result, std::vector<zendrik_event>& events);
    void Departures(std::vector<zendrik_event>& events);
    Clock::TimePoint NextDue() const;

    ReaderSession& session_;
    PresenceTracker presence_;
    JitterSource jitter_;
    bool up_ = false;
    bool lostReported_ = false;
    int failedRounds_ = 0;
    unsigned attempt_ = 0;
    Clock::TimePoint nextRound_;
    Clock::TimePoint nextAttempt_;
};

}  // namespace zendrik::session
