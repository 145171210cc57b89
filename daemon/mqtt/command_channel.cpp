#include "daemon/mqtt/command_channel.h"

#include <algorithm>

#include "daemon/common/log.h"

namespace zendrik::daemon {
namespace {

// The MQTT 5 user property that names who sent a command, for the audit trail.
constexpr std::string_view kActorProperty = "actor";
constexpr std::size_t kActorMaxBytes = 64;

std::string Key(const std::string& reader, const std::string& id) {
    return reader + '/' + id;
}

// Who sent a request: its "actor" user property, or "mqtt" for a request that names none. Nothing
// for an actor that is empty, too long or holds control characters.
std::optional<Caller> CallerOf(const IncomingMessage& message) {
    for (const auto& [name, value] : message.userProperties) {
        if (name != kActorProperty) {
            continue;
        }
        const bool printable = std::none_of(value.begin(), value.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        });
        if (value.empty() || value.size() > kActorMaxBytes || !printable) {
            return std::nullopt;
        }
        return Caller{value, std::string(kPathMqtt)};
    }
    return Caller{std::string(kMqttActor), std::string(kPathMqtt)};
}

}  // namespace

CommandChannel::CommandChannel(const Topics& topics, Commands& commands, SendReply send)
    : topics_(topics), commands_(commands), send_(std::move(send)) {}

void CommandChannel::OnMessage(const IncomingMessage& message) {
    const std::string reader = topics_.ReaderOfCommand(message.topic);
    // A retained request is an old one the broker hands to every new connection: running it at
    // each reconnection would repeat it long after it was meant.
    if (reader.empty() || message.retained) {
        return;
    }
    const Destination destination{message.responseTopic.value_or(topics_.Reply(reader)), message.correlation};
    CommandRequest request = ParseCommandRequest(message.payload);
    const std::optional<Caller> caller = CallerOf(message);
    if (!caller && !request.refusal) {
        request.refusal = BadRequest(
            "the user property \"actor\" must be a text of 1 to 64 characters "
            "without control characters");
    }
    if (request.refusal) {
        send_(destination.topic, CommandReplyJson(request, *request.refusal, UnixNowMs()),
              destination.correlation);
        return;
    }
    const auto now = ReplyCache::Clock::now();
    if (const std::string* reply = replies_.Find(reader, *request.id, now)) {
        send_(destination.topic, *reply, destination.correlation);
        return;
    }
    const std::string key = Key(reader, *request.id);
    if (const auto running = running_.find(key); running != running_.end()) {
        running->second.push_back(destination);
        return;
    }
    running_[key].push_back(destination);
    if (const auto* refusal = std::get_if<CommandOutcome>(&request.run)) {
        Answer(reader, request, *refusal);
        return;
    }
    commands_.Run(
        reader, std::get<Command>(request.run), *caller,
        [this, reader, request](const CommandOutcome& outcome) { Answer(reader, request, outcome); });
}

void CommandChannel::Answer(const std::string& reader, const CommandRequest& request,
                            const CommandOutcome& outcome) {
    const std::string reply = CommandReplyJson(request, outcome, UnixNowMs());
    replies_.Store(reader, *request.id, reply, ReplyCache::Clock::now());
    const auto running = running_.find(Key(reader, *request.id));
    if (running == running_.end()) {
        return;
    }
    const std::vector<Destination> destinations = std::move(running->second);
    running_.erase(running);
    for (const Destination& destination : destinations) {
        if (!send_(destination.topic, reply, destination.correlation)) {
            Log("the reply to command " + *request.id + " for reader " + reader +
                " could not be sent: the broker is not connected");
        }
    }
}

}  // namespace zendrik::daemon
