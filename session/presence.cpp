#include "session/presence.h"

namespace zendrik::session {

PresenceRead PresenceTracker::Read(std::span<const uint8_t> epc, const std::string& card,
                                   Clock::TimePoint now, int64_t utcMs) {
    Epc key(epc.begin(), epc.end());
    const auto [entry, arrived] = tags_.try_emplace(key);
    Presence& presence = entry->second;
    if (arrived) {
        presence.firstSeenUtcMs = utcMs;
    } else {
        deadlines_.erase({presence.lastSeen + absence_, key});
    }
    ++presence.count;
    presence.lastSeenUtcMs = utcMs;
    presence.lastSeen = now;
    presence.card = card;
    deadlines_.insert({now + absence_, std::move(key)});
    return {arrived, presence};
}

std::vector<Departure> PresenceTracker::Depart(Clock::TimePoint now) {
    std::vector<Departure> departed;
    while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
        auto node = deadlines_.extract(deadlines_.begin());
        Epc& epc = node.value().second;
        const auto entry = tags_.find(epc);
        departed.push_back({std::move(epc), entry->second});
        tags_.erase(entry);
    }
    return departed;
}

std::optional<Clock::TimePoint> PresenceTracker::NextDeparture() const {
    if (deadlines_.empty()) {
        return std::nullopt;
    }
    return deadlines_.begin()->first;
}

}  // namespace zendrik::session
