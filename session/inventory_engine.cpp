#include "session/inventory_engine.h"

#include <algorithm>

namespace zendrik::session {

InventoryEngine::InventoryEngine(ReaderSession& session, Milliseconds absence, JitterSource jitter)
    : session_(session),
      presence_(absence),
      jitter_(std::move(jitter)),
      nextRound_(session.clock().now()),
      nextAttempt_(nextRound_) {}

Clock::TimePoint InventoryEngine::Step() {
    // Departures are looked at before and after the exchange, so that one falling due while a
    // round runs is not late by the round.
    Departures();
    const Clock::TimePoint now = session_.clock().now();
    if (session_.connected() && now >= nextRound_) {
        Round();
    } else if (!session_.connected() && now >= nextAttempt_) {
        Attempt();
    }
    Departures();
    return NextDue();
}

Clock::TimePoint InventoryEngine::DepartDue() {
    Departures();
    return NextDue();
}

void InventoryEngine::Round() {
    SessionClock& clock = session_.clock();
    const Clock::TimePoint started = clock.now();
    const TagRound round = ReadWithCardRule();
    LearnRoundTime(round);
    if (round.code != ZENDRIK_OK && round.code != ZENDRIK_NO_TAG) {
        ++failedRounds_;
        if (IsDeviceGone(round.code) || failedRounds_ >= kFailedRoundsForLoss) {
            LoseLink(round.code);
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
    if (read.arrived) {
        session_.sink().Emit(TagEvent(ZENDRIK_EVENT_ARRIVED, utcMs, round.epc, read.presence));
    }
    StreamEvent event =
        TagEvent(ZENDRIK_EVENT_READ, utcMs, round.epc, read.presence, round.antenna, round.rssi);
    event.fields.roundUs = RoundMicroseconds(round);
    session_.sink().Emit(std::move(event));
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
    return session_.ReadTagRound(patience_);
}

void InventoryEngine::LearnRoundTime(const TagRound& round) {
    const auto took = std::chrono::ceil<Milliseconds>(round.took);
    const bool answered = round.code == ZENDRIK_OK || round.code == ZENDRIK_NO_TAG;
    // An unanswered round waited as long as it could: the next one waits longer.
    const Milliseconds basis = answered ? took : std::max(took, patience_);
    patience_ = std::min(kRoundPatienceFactor * basis, kLongestRoundPatience);
}

void InventoryEngine::Attempt() {
    SessionClock& clock = session_.clock();
    int32_t result = session_.EnsureConnected();
    if (result == ZENDRIK_OK) {
        result = session_.LoadCardRule();
        if (result != ZENDRIK_OK) {
            session_.LinkFailed(result);
        }
    }
    if (result == ZENDRIK_OK) {
        failedRounds_ = 0;
        backoff_.Succeeded();
        nextRound_ = clock.now();
        return;
    }
    nextAttempt_ = clock.now() + backoff_.NextDelay(jitter_());
}

void InventoryEngine::LoseLink(int32_t result) {
    session_.LinkFailed(result);
    failedRounds_ = 0;
    backoff_.Succeeded();  // the link was up: the delays start again from the first
    nextAttempt_ = session_.clock().now() + backoff_.NextDelay(jitter_());
}

void InventoryEngine::Departures() {
    SessionClock& clock = session_.clock();
    const std::vector<Departure> departed = presence_.Depart(clock.now());
    if (departed.empty()) {
        return;
    }
    const int64_t utcMs = clock.UtcMilliseconds();
    for (const Departure& departure : departed) {
        session_.sink().Emit(TagEvent(ZENDRIK_EVENT_DEPARTED, utcMs, departure.epc, departure.presence));
    }
}

Clock::TimePoint InventoryEngine::NextDue() const {
    const Clock::TimePoint next = session_.connected() ? nextRound_ : nextAttempt_;
    const std::optional<Clock::TimePoint> departure = presence_.NextDeparture();
    return departure ? std::min(next, *departure) : next;
}

}  // namespace zendrik::session
