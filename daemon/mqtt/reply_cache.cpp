#include "daemon/mqtt/reply_cache.h"

namespace zendrik::daemon {

const std::string* ReplyCache::Find(const std::string& reader, const std::string& id, Clock::time_point now) {
    Expire(now);
    const auto found = replies_.find(reader + '/' + id);
    return found == replies_.end() ? nullptr : &found->second;
}

void ReplyCache::Store(const std::string& reader, const std::string& id, std::string reply,
                       Clock::time_point now) {
    Expire(now);
    const std::string key = reader + '/' + id;
    if (replies_.count(key) != 0) {
        return;
    }
    while (replies_.size() >= kMaxEntries) {
        replies_.erase(order_.front().key);
        order_.pop_front();
    }
    replies_.emplace(key, std::move(reply));
    order_.push_back(Entry{key, now});
}

void ReplyCache::Expire(Clock::time_point now) {
    while (!order_.empty() && now - order_.front().when >= kKeepFor) {
        replies_.erase(order_.front().key);
        order_.pop_front();
    }
}

}  // namespace zendrik::daemon
