#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>

#include "daemon/histogram.h"

namespace zendrik::daemon {

// The time from storing a message to the broker's acknowledgement, as a histogram. Messages are
// remembered by reader and seq from their store on, at most kRemembered of them: during a long
// outage the oldest are forgotten (and not observed) rather than held without bound.
class PublishLatency {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kRemembered = 1u << 16;

    void Stored(const std::string& reader, uint64_t seq, Clock::time_point when) {
        Key key{reader, seq};
        storedAt_[key] = when;
        order_.push_back(std::move(key));
        while (order_.size() > kRemembered) {
            storedAt_.erase(order_.front());
            order_.pop_front();
        }
    }

    void Acknowledged(const std::string& reader, uint64_t seq, Clock::time_point when) {
        if (const auto found = storedAt_.find(Key{reader, seq}); found != storedAt_.end()) {
            histogram_.Observe(std::chrono::duration<double>(when - found->second).count());
            storedAt_.erase(found);
        }
        // Acknowledgements come about in the order of storing: what is done at the front goes.
        while (!order_.empty() && storedAt_.count(order_.front()) == 0) {
            order_.pop_front();
        }
    }

    const Histogram& histogram() const { return histogram_; }

  private:
    using Key = std::pair<std::string, uint64_t>;
    struct KeyHash {
        std::size_t operator()(const Key& key) const {
            return std::hash<std::string>{}(key.first) ^ (std::hash<uint64_t>{}(key.second) * 31);
        }
    };
    std::unordered_map<Key, Clock::time_point, KeyHash> storedAt_;
    std::deque<Key> order_;
    Histogram histogram_;
};

}  // namespace zendrik::daemon
