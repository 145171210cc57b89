#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/audit/audit_log.h"
#include "daemon/audit/audit_record.h"
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
    // The same for a caller the audit trail names.
    virtual void RunCommand(const std::string& reader, const Command& command, const Caller& caller,
                            std::function<void(const CommandOutcome&)> done) {
        (void)caller;
        RunCommand(reader, command, std::move(done));
    }
    // A command (or a reload) refused to a caller of too low a role, for the audit trail.
    virtual void NoteDenied(const AuditStart& denied, const std::string& words) { (void)denied, (void)words; }
    // Reads the configuration again, as SIGHUP does: what changed, or why the file was not taken.
    virtual CommandOutcome Reload(const Caller& caller) {
        (void)caller;
        return CommandOutcome{CommandFailure::kRefused, {}, 0, "this site cannot reload its configuration"};
    }
    // A page of the audit trail; nothing for a site without one.
    virtual std::optional<AuditPage> Audit(const AuditQuery& query) {
        (void)query;
        return std::nullopt;
    }
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
