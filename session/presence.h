#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "link/clock.h"

namespace zendrik::session {

using Epc = std::vector<uint8_t>;

// The order of std::less<Epc>. vector's own <, by way of <=>, draws a false -Wstringop-overread from
// GCC 12 at -O3 (a memcmp bound it cannot tell is at most the shorter length); this is the same
// comparison without it.
struct EpcOrder {
    bool operator()(const Epc& left, const Epc& right) const {
        return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
    }
};

// What is known of one tag while it is present: reads since it arrived, and when.
struct Presence {
    uint64_t count = 0;
    int64_t firstSeenUtcMs = 0;  // the read that made it arrive
    int64_t lastSeenUtcMs = 0;
    Clock::TimePoint lastSeen;  // monotonic, for the absence
    std::string card;           // the card number of its latest read
};

struct PresenceRead {
    bool arrived = false;  // the read made the tag arrive
    Presence presence;
};

struct Departure {
    Epc epc;
    Presence presence;
};

// Which tags are in the field. A tag arrives with its first read and departs once the absence
// time has passed without a read of it. Only present tags are kept, so memory follows the field,
// not the length of the inventory. Pure: the caller hands in the times.
class PresenceTracker {
  public:
    explicit PresenceTracker(Milliseconds absence) : absence_(absence) {}

    PresenceRead Read(std::span<const uint8_t> epc, const std::string& card, Clock::TimePoint now,
                      int64_t utcMs);

    // The tags whose absence has run out at `now`, the longest absent first; they are forgotten.
    std::vector<Departure> Depart(Clock::TimePoint now);

    // When the next tag departs if it is not read again; nothing while the field is empty.
    std::optional<Clock::TimePoint> NextDeparture() const;

    std::size_t present() const { return tags_.size(); }

  private:
    using Deadline = std::pair<Clock::TimePoint, Epc>;

    Milliseconds absence_;
    std::map<Epc, Presence, EpcOrder> tags_;
    std::set<Deadline> deadlines_;  // (last read + absence, EPC) of every present tag
};

}  // namespace zendrik::session
