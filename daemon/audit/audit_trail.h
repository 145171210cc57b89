#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "daemon/audit/audit_log.h"
#include "daemon/audit/audit_record.h"

namespace zendrik::daemon {

// The one place every command and every write of the settings is recorded, whichever path it came
// by: an entry stored when the command is received (Begin), completed with its outcome when it has
// ended (Complete), then written to the journal as one line and handed to whoever publishes it.
// On the loop's thread only. A trail that cannot store (its disk full) says so in the journal and
// lets the command run all the same: the journal line and the published entry still tell of it. One
// whose file cannot even be opened (made on a full disk) is opened again at the next entry.
class AuditTrail {
  public:
    using Completed = std::function<void(const AuditRecord& record)>;
    using Clock = std::function<int64_t()>;  // milliseconds since 1970

    // Opens (or creates) the trail's file.
    AuditTrail(const std::string& path, uint32_t keepDays, Clock now = {});
    ~AuditTrail();

    // Given every entry once complete: also, at once, each that an earlier run left unknown.
    void OnCompleted(Completed completed);

    // The entry's id, for Complete().
    int64_t Begin(AuditStart start);
    void Complete(int64_t id, AuditEnd end);
    // A command refused before it ran (a role too low, [control] commands): begun and completed.
    void Deny(AuditStart start, int32_t code, std::string words);

    AuditPage Query(const AuditQuery& query);
    // Deletes what is older than the days kept.
    void Prune();

  private:
    void Finish(AuditRecord record);
    // The file, opened when it was not yet; null while it cannot be.
    AuditLog* Opened();
    // What an opening found left unknown, once there is someone to tell.
    void TellUnknown();

    std::string path_;
    std::unique_ptr<AuditLog> log_;
    std::vector<AuditRecord> unknown_;  // found at an opening, not yet told
    int64_t keepMs_;
    Clock now_;
    Completed completed_;
    std::map<int64_t, AuditRecord> pending_;
    int64_t unstored_ = 0;  // ids below zero: entries that could not be stored
};

}  // namespace zendrik::daemon
