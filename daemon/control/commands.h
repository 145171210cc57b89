#pragma once

#include <functional>
#include <string>

#include "daemon/config/config.h"
#include "daemon/control/command.h"
#include "daemon/control/command_outcome.h"

namespace zendrik::daemon {

class ReaderRuntime;

// The one command layer of the daemon, for the MQTT command channel and the REST API alike: a
// command as its edge read it, the [control] policy, the reader named, the args checked
// (CheckCommand), and the command queued on the reader's own handle. `done` is called exactly once,
// on the loop, also when the reader is closed while it waits; its result is compact JSON text.
class Commands {
  public:
    using FindReader = std::function<ReaderRuntime*(const std::string& name)>;
    using Done = std::function<void(const CommandOutcome&)>;

    Commands(CommandPolicy policy, FindReader find);

    void Run(const std::string& reader, const Command& command, Done done);
    CommandPolicy policy() const { return policy_; }

  private:
    CommandPolicy policy_;
    FindReader find_;
};

}  // namespace zendrik::daemon
