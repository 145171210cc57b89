#pragma once

#include <functional>
#include <map>
#include <string>

#include "daemon/common/snapshot.h"
#include "daemon/control/command.h"
#include "daemon/control/command_outcome.h"
#include "daemon/http/http_routes.h"

namespace zendrik::daemon {

// What the HTTP side asks of the site: a snapshot to render answers from, and the commands of the
// MQTT command channel, with the same policy and refusals. Called on the loop's thread only.
class SiteApi {
  public:
    virtual ~SiteApi() = default;
    virtual SiteSnapshot Snapshot() const = 0;
    // Runs a command (as the MQTT commands) and calls `done` on the loop later, exactly once, also
    // when the reader goes away meanwhile.
    virtual void RunCommand(const std::string& reader, const Command& command,
                            std::function<void(const CommandOutcome&)> done) = 0;
    // Answers a question to the history of the zones and doors (kTag, kPassages) with the query's
    // `arguments`: `done` is called on the loop, exactly once. A site without one has none to ask.
    virtual void AskHistory(const Route& route, const std::map<std::string, std::string>& arguments,
                            std::function<void(HttpAnswer)> done) {
        (void)route;
        (void)arguments;
        done(ErrorAnswer(404, "this site keeps no history (it has no zone and no door)"));
    }
};

}  // namespace zendrik::daemon
