#include "daemon/audit/audit_trail.h"

#include <utility>

#include "daemon/common/json_text.h"
#include "daemon/common/log.h"
#include "daemon/common/payloads.h"

namespace zendrik::daemon {
namespace {

constexpr int64_t kMsPerDay = 24 * 3600 * 1000LL;

}  // namespace

AuditTrail::AuditTrail(const std::string& path, uint32_t keepDays, Clock now)
    : path_(path), keepMs_(keepDays * kMsPerDay), now_(now ? std::move(now) : Clock(UnixNowMs)) {
    Opened();
}

AuditTrail::~AuditTrail() = default;

AuditLog* AuditTrail::Opened() {
    if (!log_) {
        try {
            log_ = std::make_unique<AuditLog>(path_);
            unknown_ = log_->unknownAtOpening();
            TellUnknown();
        } catch (const SqliteError& error) {
            Log("the audit trail cannot open " + path_ + ": " + error.what() +
                "; its entries go to the journal and the broker only, until it can");
        }
    }
    return log_.get();
}

void AuditTrail::OnCompleted(Completed completed) {
    completed_ = std::move(completed);
    TellUnknown();
}

void AuditTrail::TellUnknown() {
    if (!completed_) {
        return;
    }
    for (AuditRecord& record : std::exchange(unknown_, {})) {
        Finish(std::move(record));
    }
}

int64_t AuditTrail::Begin(AuditStart start) {
    AuditRecord record;
    record.timeMs = now_();
    record.start = std::move(start);
    try {
        AuditLog* log = Opened();
        record.id = log != nullptr ? log->Append(record.timeMs, record.start) : --unstored_;
    } catch (const SqliteError& error) {
        Log(std::string("the audit trail cannot store an entry: ") + error.what());
        record.id = --unstored_;
    }
    const int64_t id = record.id;
    pending_.emplace(id, std::move(record));
    return id;
}

void AuditTrail::Complete(int64_t id, AuditEnd end) {
    const auto found = pending_.find(id);
    if (found == pending_.end()) {
        return;
    }
    AuditRecord record = std::move(found->second);
    pending_.erase(found);
    record.end = std::move(end);
    if (record.id > 0 && log_) {
        try {
            log_->Complete(record.id, now_(), record.end);
        } catch (const SqliteError& error) {
            Log(std::string("the audit trail cannot store an outcome: ") + error.what());
        }
    }
    Finish(std::move(record));
}

void AuditTrail::Deny(AuditStart start, int32_t code, std::string words) {
    Complete(Begin(std::move(start)), AuditEnd{AuditOutcome::kDenied, code, std::move(words), {}, {}});
}

AuditPage AuditTrail::Query(const AuditQuery& query) {
    AuditLog* log = Opened();
    if (log == nullptr) {
        return AuditPage{};
    }
    AuditPage page = log->Query(query);
    // An entry still running is shown as it is now, its outcome pending.
    for (AuditRecord& record : page.entries) {
        if (record.end.outcome == AuditOutcome::kPending) {
            if (const auto found = pending_.find(record.id); found != pending_.end()) {
                record = found->second;
            }
        }
    }
    return page;
}

void AuditTrail::Prune() {
    AuditLog* log = Opened();
    if (log == nullptr) {
        return;
    }
    try {
        if (const uint64_t deleted = log->DeleteBefore(now_() - keepMs_); deleted > 0) {
            Log("the audit trail deleted " + std::to_string(deleted) + " entries older than " +
                std::to_string(keepMs_ / kMsPerDay) + " days");
        }
    } catch (const SqliteError& error) {
        Log(std::string("the audit trail cannot delete its old entries: ") + error.what());
    }
}

void AuditTrail::Finish(AuditRecord record) {
    Log("audit " + JsonText(AuditRecordJson(record)));
    if (completed_) {
        completed_(record);
    }
}

}  // namespace zendrik::daemon
