#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "daemon/control/command.h"

namespace zendrik::daemon {

// The largest request taken; a larger one is refused unread.
inline constexpr std::size_t kCommandRequestMaxBytes = 64 * 1024;
inline constexpr std::size_t kCommandIdMaxBytes = 64;

// A request of the command channel, read once: {"id":"<1-64 chars>","command":"<name>","args":{…}}.
struct CommandRequest {
    std::optional<std::string> id;       // nothing when it could not be read (the reply says null)
    std::optional<std::string> command;  // its name as given; nothing when it could not be read
    // Bad JSON, a missing or bad id or command, args no object: answered at once, never remembered.
    std::optional<CommandOutcome> refusal;
    // What runs, or the refusal of a name no command has (remembered as the reply to its id).
    std::variant<Command, CommandOutcome> run;
};

// Reads a request; everything wrong with it ends in `refusal` (or `run`), and nothing is then sent.
CommandRequest ParseCommandRequest(std::string_view payload);

// {"id":…,"command":…,"ok":true,"result":{…},"time":…} or
// {"id":…,"command":…,"ok":false,"error":{"code":…,"words":"…"},"time":…}. The result goes in as
// the outcome's text (compact JSON, "{}" when empty), without being read again.
std::string CommandReplyJson(const CommandRequest& request, const CommandOutcome& outcome, int64_t timeMs);

}  // namespace zendrik::daemon
