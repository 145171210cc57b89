#pragma once

#include <functional>
#include <string>

#include "daemon/common/snapshot.h"
#include "daemon/control/command.h"
#include "daemon/control/command_outcome.h"

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
};

}  // namespace zendrik::daemon
