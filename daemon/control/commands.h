#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "daemon/control/command_outcome.h"
#include "daemon/config/config.h"

namespace zendrik::daemon {

class ReaderRuntime;

// The largest request taken; a larger one is refused unread.
inline constexpr std::size_t kCommandRequestMaxBytes = 64 * 1024;
inline constexpr std::size_t kCommandIdMaxBytes = 64;

// A request of the command channel as it came: {"id":"<1-64 chars>","command":"<name>","args":{…}}.
struct CommandRequest {
    std::optional<std::string> id;          // nothing when it could not be read (the reply says null)
    std::optional<std::string> command;     // nothing when it could not be read
    std::string argsJson = "{}";            // always an object
    std::optional<CommandOutcome> refusal;  // bad JSON, a missing or bad id or command, args no object
};

// Reads a request; everything wrong with it ends in `refusal`, and nothing is then sent.
CommandRequest ParseCommandRequest(std::string_view payload);

// {"id":…,"command":…,"ok":true,"result":{…},"time":…} or
// {"id":…,"command":…,"ok":false,"error":{"code":…,"words":"…"},"time":…}.
std::string CommandReplyJson(const CommandRequest& request, const CommandOutcome& outcome, int64_t timeMs);

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

// The one command layer of the daemon, for the MQTT command channel and the REST API alike: the
// [control] policy, the reader named, the args checked (with the words of `zendrik set`), keys
// the configuration file declares refused, and the command queued on the reader's own handle.
// `done` is called exactly once, on the loop, also when the reader is closed while it waits.
class Commands {
  public:
    using FindReader = std::function<ReaderRuntime*(const std::string& name)>;
    using Done = std::function<void(const CommandOutcome&)>;

    Commands(CommandPolicy policy, FindReader find);

    void Run(const std::string& reader, const std::string& command, const std::string& argsJson, Done done);
    CommandPolicy policy() const { return policy_; }

  private:
    CommandPolicy policy_;
    FindReader find_;
};

}  // namespace zendrik::daemon
