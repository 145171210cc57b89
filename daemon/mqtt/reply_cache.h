#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <unordered_map>

namespace zendrik::daemon {

// The replies given in the last ten minutes by reader and id, so that a request delivered again
// (QoS 1 redelivers) gets the same reply without running twice. At most kMaxEntries replies are
// kept; beyond that the oldest is forgotten first.
class ReplyCache {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes kKeepFor{10};
    static constexpr std::size_t kMaxEntries = 1024;

    const std::string* Find(const std::string& reader, const std::string& id, Clock::time_point now);
    void Store(const std::string& reader, const std::string& id, std::string reply, Clock::time_point now);
    std::size_t size() const { return replies_.size(); }

  private:
    void Expire(Clock::time_point now);

    struct Entry {
        std::string key;
        Clock::time_point when;
    };
    std::unordered_map<std::string, std::string> replies_;
    std::deque<Entry> order_;  // oldest first
};

}  // namespace zendrik::daemon
