#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "daemon/common/histogram.h"

namespace zendrik::daemon {

// The time from storing a message to the broker's acknowledgement, as a histogram. Messages are
// remembered per reader in the order of their sequence numbers, which is the order they are sent
// and acknowledged in; at most kRemembered of them: during a long outage a reader's oldest are
// forgotten (and not observed) rather than held without bound. Storing one costs no allocation
// once a reader's queue has grown.
class PublishLatency {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kRemembered = 1u << 16;

    void Stored(const std::string& reader, uint64_t seq, Clock::time_point when) {
        auto found = pending_.find(reader);
        if (found == pending_.end()) {
            found = pending_.emplace(reader, std::deque<Entry>{}).first;
        }
        found->second.push_back(Entry{seq, when});
        if (++remembered_ > kRemembered) {
            found->second.pop_front();
            --remembered_;
        }
    }

    void Acknowledged(const std::string& reader, uint64_t seq, Clock::time_point when) {
        const auto found = pending_.find(reader);
        if (found == pending_.end()) {
            return;
        }
        std::deque<Entry>& entries = found->second;
        // What comes before it was forgotten, dropped by a full spool or acknowledged already.
        while (!entries.empty() && entries.front().seq < seq) {
            entries.pop_front();
            --remembered_;
        }
        if (!entries.empty() && entries.front().seq == seq) {
            histogram_.Observe(std::chrono::duration<double>(when - entries.front().storedAt).count());
            entries.pop_front();
            --remembered_;
        }
    }

    const Histogram& histogram() const { return histogram_; }

  private:
    struct Entry {
        uint64_t seq = 0;
        Clock::time_point storedAt;
    };
    std::map<std::string, std::deque<Entry>, std::less<>> pending_;
    std::size_t remembered_ = 0;
    Histogram histogram_;
};

}  // namespace zendrik::daemon
