#include "daemon/mqtt/command_channel.h"

#include "daemon/common/log.h"

namespace zendrik::daemon {
namespace {

std::string Key(const std::string& reader, const std::string& id) {
    return reader + '/' + id;
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
    const CommandRequest request = ParseCommandRequest(message.payload);
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
        reader, std::get<Command>(request.run),
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
