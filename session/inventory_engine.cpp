#include "session/inventory_engine.h"

#include <algorithm>

#include "session/backoff.h"
#include "session/events.h"

namespace zendrik::session {

InventoryEngine::InventoryEngine(ReaderSession& session, Milliseconds absence, JitterSource jitter)
    : session_(session),
      presence_(absence),
      jitter_(std::move(jitter)),
      nextRound_(session.clock().now()),
      nextAttempt_(nextRound_) {}

Clock::TimePoint InventoryEngine::Step(std::vector<zendrik_event>& events) {
    // Departures are looked at before and after the exchange, so that one falling due while a
    // round runs is not late by the round.
    Departures(events);
    const Clock::TimePoint now = session_.clock().now();
    if (up_ && now >= nextRound_) {
        Round(events);
    } else if (!up_ && now >= nextAttempt_) {
        Attempt(events);
    }
    Departures(events);
    return NextDue();
}

Clock::TimePoint InventoryEngine::StepWithoutLink(std::vector<zendrik_event>& events) {
    Departures(events);
    return NextDue();
}

void InventoryEngine::Round(std::vector<zendrik_event>& events) {
    SessionClock& clock = session_.clock();
    const Clock::TimePoint started = clock.now();
    const TagRound round = ReadWithCardRule();
    if (round.code != ZENDRIK_OK && round.code != ZENDRIK_NO_TAG) {
        ++failedRounds_;
        if (IsDeviceGone(round.code) || failedRounds_ >= kFailedRoundsForLoss) {
            LoseLink(round.code, events);
        } else {
            nextRound_ = clock.now();  // the failure took its time-out already
        }
        return;
    }
    failedRounds_ = 0;
    if (round.code == ZENDRIK_NO_TAG) {
        nextRound_ = started + kIdleRoundInterval;
        return;
    }
    const Clock::TimePoint readAt = clock.now();
    const int64_t utcMs = clock.UtcMilliseconds();
    const PresenceRead read = presence_.Read(round.epc, round.card, readAt, utcMs);
    const std::string& reader = session_.id();
    if (read.arrived) {
        events.push_back(TagEvent(ZENDRIK_EVENT_ARRIVED, reader, utcMs, round.epc, read.presence));
    }
    events.push_back(
        TagEvent(ZENDRIK_EVENT_READ, reader, utcMs, round.epc, read.presence, round.antenna, round.rssi));
    nextRound_ = readAt;
}

// A change of the settings between two rounds drops the card rule; it is read again first.
TagRound InventoryEngine::ReadWithCardRule() {
    if (!session_.card_rule_loaded()) {
        if (const int32_t loaded = session_.LoadCardRule(); loaded != ZENDRIK_OK) {
            TagRound failed;
            failed.code = loaded;
            return failed;
        }
    }
    return session_.ReadTagRound();
}

void InventoryEngine::Attempt(std::vector<zendrik_event>& events) {
    SessionClock& clock = session_.clock();
    int32_t result = session_.EnsureConnected();
    if (result == ZENDRIK_OK) {
        result = session_.LoadCardRule();
    }
    if (result == ZENDRIK_OK) {
        up_ = true;
        failedRounds_ = 0;
        attempt_ = 0;
        nextRound_ = clock.now();
        if (lostReported_) {
            events.push_back(
                LinkEvent(ZENDRIK_EVENT_LINK_RESTORED, session_.id(), clock.UtcMilliseconds(), ZENDRIK_OK));
            lostReported_ = false;
        }
        return;
    }
    session_.MarkDisconnected();
    if (!lostReported_) {
        // The inventory starts on a link that is down: its first event says so.
        events.push_back(LinkEvent(ZENDRIK_EVENT_LINK_LOST, session_.id(), clock.UtcMilliseconds(), result));
        lostReported_ = true;
        attempt_ = 0;
    } else {
        ++attempt_;
    }
    nextAttempt_ = clock.now() + ReconnectDelay(attempt_, jitter_());
}

void InventoryEngine::LoseLink(int32_t result, std::vector<zendrik_event>& events) {
    SessionClock& clock = session_.clock();
    up_ = false;
    session_.MarkDisconnected();
    events.push_back(LinkEvent(ZENDRIK_EVENT_LINK_LOST, session_.id(), clock.UtcMilliseconds(), result));
    lostReported_ = true;
    attempt_ = 0;
    nextAttempt_ = clock.now() + ReconnectDelay(attempt_, jitter_());
}

void InventoryEngine::Departures(std::vector<zendrik_event>& events) {
    SessionClock& clock = session_.clock();
    const std::vector<Departure> departed = presence_.Depart(clock.now());
    if (departed.empty()) {
        return;
    }
    const int64_t utcMs = clock.UtcMilliseconds();
    for (const Departure& departure : departed) {
        events.push_back(
            TagEvent(ZENDRIK_EVENT_DEPARTED, session_.id(), utcMs, departure.epc, departure.presence));
    }
}

Clock::TimePoint InventoryEngine::NextDue() const {
    const Clock::TimePoint next = up_ ? nextRound_ : nextAttempt_;
    const std::optional<Clock::TimePoint> departure = presence_.NextDeparture();
    return departure ? std::min(next, *departure) : next;
}

}  // namespace zendrik::session
