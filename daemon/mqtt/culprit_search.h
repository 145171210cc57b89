#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zendrik::daemon {

// Finds the message a broker ends the connection on, when it says nothing more (MQTT 3.1.1, or a
// broker that drops rather than refuses). A connection that ends with many messages in flight
// does not say which of them it ended on: the acknowledgements the broker had not sent yet are
// lost with it. So a single loss proves nothing (a broker restarting ends connections too); two
// losses in a row that share rows in flight make those rows the suspects. Then only suspects go
// out, the oldest half of them at a time and nothing after them until all are answered: a half
// that is acknowledged clears its rows, a half the connection ends on becomes the suspects. A
// suspect sent alone, with nothing else in flight, that the connection ends on twice is the
// culprit; it alone is moved to the dead letters. Suspects that are all acknowledged end the
// search with none found.
class CulpritSearch {
  public:
    static constexpr unsigned kLoneLossesToBlame = 2;

    // A connection ended with these spool rows in flight, and `othersInFlight` when messages
    // outside the spool (statuses) were in flight too. Gives the culprit, when now known: the
    // search is over then.
    std::optional<int64_t> Lost(std::vector<int64_t> rowsInFlight, bool othersInFlight);
    // The broker answered for this row (acknowledged or refused it).
    void Settled(int64_t row);
    // A row left the spool another way (moved to the dead letters, dropped by a full spool).
    void Forget(int64_t row) { Settled(row); }

    bool searching() const { return !suspects_.empty(); }
    // While searching: how many of the oldest rows to send as the next probe (at least one).
    std::size_t probeSize() const { return (suspects_.size() + 1) / 2; }
    const std::vector<int64_t>& suspects() const { return suspects_; }

  private:
    std::vector<int64_t> lastLost_;  // in flight at the last loss and not answered since, sorted
    std::vector<int64_t> suspects_;  // sorted
    int64_t lone_ = 0;               // the suspect last sent alone when a connection ended
    unsigned loneLosses_ = 0;
};

}  // namespace zendrik::daemon
