#pragma once

#include <functional>
#include <string>

#include "daemon/audit/audit_trail.h"
#include "daemon/config/config.h"
#include "daemon/control/command.h"
#include "daemon/control/command_outcome.h"

namespace zendrik::daemon {

class ReaderRuntime;

// The one command layer of the daemon, for the MQTT command channel and the REST API alike: a
// command as its edge read it, the [control] policy, the reader named, the args checked
// (CheckCommand), and the command queued on the reader's own handle. `done` is called exactly once,
// on the loop, also when the reader is closed while it waits; its result is compact JSON text.
// With an audit trail every command is recorded with its caller before anything else, and completed
// with its outcome; a write of settings and a factory default with the settings they concern as
// read just before (one more request to the reader, queued ahead of the write) and after.
class Commands {
  public:
    using FindReader = std::function<ReaderRuntime*(const std::string& name)>;
    using Done = std::function<void(const CommandOutcome&)>;

    Commands(CommandPolicy policy, FindReader find, AuditTrail* audit = nullptr);

    void Run(const std::string& reader, const Command& command, Done done);
    void Run(const std::string& reader, const Command& command, const Caller& caller, Done done);
    CommandPolicy policy() const { return policy_; }

  private:
    CommandPolicy policy_;
    FindReader find_;
    AuditTrail* audit_;
};

// The args of a command as the audit trail records them: {"power":20}.
std::string CommandArgsJson(const Command& command);
// The end of an audit entry for a command's outcome, with the settings before and after.
AuditEnd AuditEndOf(const CommandOutcome& outcome, std::string beforeJson, std::string afterJson);

}  // namespace zendrik::daemon
