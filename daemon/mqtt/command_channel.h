#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "daemon/common/payloads.h"
#include "daemon/control/commands.h"
#include "daemon/mqtt/command_request.h"
#include "daemon/mqtt/mqtt_client.h"
#include "daemon/mqtt/reply_cache.h"

namespace zendrik::daemon {

// The MQTT side of the commands: requests on PREFIX/SITE/READER/cmd, replies on
// PREFIX/SITE/READER/reply, or on the request's MQTT 5 Response Topic with its Correlation Data.
// A request whose id was answered in the last ten minutes gets that reply again without running
// twice; one that comes again while its first delivery still runs is answered with it.
class CommandChannel {
  public:
    // Sends a reply (QoS 1, not retained); false when it could not go out.
    using SendReply = std::function<bool(const std::string& topic, const std::string& payload,
                                         const std::optional<std::string>& correlation)>;

    CommandChannel(const Topics& topics, Commands& commands, SendReply send);

    void OnMessage(const IncomingMessage& message);

  private:
    struct Destination {
        std::string topic;
        std::optional<std::string> correlation;
    };
    void Answer(const std::string& reader, const CommandRequest& request, const CommandOutcome& outcome);

    const Topics& topics_;
    Commands& commands_;
    SendReply send_;
    ReplyCache replies_;
    // Requests that run, by reader and id: where each delivery of them is to be answered.
    std::map<std::string, std::vector<Destination>> running_;
};

}  // namespace zendrik::daemon
