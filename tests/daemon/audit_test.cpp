// The audit trail on its own: an entry stored before its command runs is found "unknown" by the
// next run when the outcome never came (a crash between), rows cannot be changed, old entries go
// after the days kept, and the queries filter and page newest first.
#include <gtest/gtest.h>

#include "daemon/audit/audit_trail.h"
#include "daemon/store/sqlite.h"
#include "tests/daemon/child_process.h"

namespace zendrik::daemon {
namespace {

constexpr int64_t kDayMs = 24 * 3600 * 1000LL;
constexpr uint32_t kKeepDays = 30;

AuditStart Start(const std::string& actor, const std::string& reader, const std::string& command) {
    return AuditStart{Caller{actor, std::string(kPathRest)}, reader, command, R"({"power":20})"};
}

std::vector<int64_t> Ids(const AuditPage& page) {
    std::vector<int64_t> ids;
    for (const AuditRecord& record : page.entries) {
        ids.push_back(record.id);
    }
    return ids;
}

TEST(AuditTrailTest, KeepsWhatACrashLeftOpenAndNeverChangesARow) {
    const testing::TemporaryDirectory directory;
    const std::string path = directory.File("audit.sqlite");
    int64_t now = 1000 * kDayMs;
    const AuditTrail::Clock clock = [&] { return now; };
    int64_t crashed = 0;
    {
        AuditTrail trail(path, kKeepDays, clock);
        std::vector<AuditRecord> completed;
        trail.OnCompleted([&](const AuditRecord& record) { completed.push_back(record); });
        const int64_t done = trail.Begin(Start("ops-desk", "gate-1", "set-settings"));
        crashed = trail.Begin(Start("ops-desk", "gate-2", "factory-default"));
        EXPECT_EQ(trail.Query({}).entries.front().end.outcome, AuditOutcome::kPending);
        trail.Complete(done, AuditEnd{AuditOutcome::kOk, 0, {}, R"({"power":26})", R"({"power":20})"});
        ASSERT_EQ(completed.size(), 1u);
        EXPECT_EQ(
            AuditRecordJson(completed[0]).dump(),
            R"({"id":1,"time":"1972-09-27T00:00:00.000Z","actor":"ops-desk","path":"rest","reader":"gate-1",)"
            R"("command":"set-settings","args":{"power":20},"outcome":"ok","before":{"power":26},)"
            R"("after":{"power":20}})");
        trail.Deny(Start("wall-screen", "gate-1", "stop"), -301, "wall-screen is a viewer");
        // The run ends here without the second outcome, as a crash would leave it.
    }
    Database db(path);
    for (const char* change :
         {"UPDATE entries SET actor = 'someone else'", "UPDATE outcomes SET outcome = 'ok'"}) {
        SCOPED_TRACE(change);
        try {
            db.Execute(change);
            ADD_FAILURE() << "changed";
        } catch (const SqliteError& error) {
            EXPECT_NE(std::string(error.what()).find("the audit trail is append-only"), std::string::npos);
        }
    }

    now += kKeepDays * kDayMs;
    AuditTrail reopened(path, kKeepDays, clock);
    std::vector<AuditRecord> told;
    reopened.OnCompleted([&](const AuditRecord& record) { told.push_back(record); });
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].id, crashed);
    EXPECT_EQ(told[0].end.outcome, AuditOutcome::kUnknown);
    const AuditPage all = reopened.Query({});
    EXPECT_EQ(Ids(all), (std::vector<int64_t>{3, 2, 1}));
    EXPECT_EQ(all.next, std::nullopt);
    EXPECT_EQ(AuditRecordJson(all.entries[0])["error"]["words"], "wall-screen is a viewer");
    EXPECT_EQ(AuditRecordJson(all.entries[1])["outcome"], "unknown");

    // Filters and pages.
    const int64_t later = reopened.Begin(Start("ops-desk", "gate-1", "start"));
    reopened.Complete(later, AuditEnd{AuditOutcome::kFailed, -2, "cannot be reached", {}, {}});
    struct Case {
        const char* what;
        AuditQuery query;
        std::vector<int64_t> ids;
        std::optional<int64_t> next;
    };
    const Case cases[] = {
        {"one reader", {"gate-1", "", INT64_MIN, INT64_MAX, 100}, {4, 3, 1}, std::nullopt},
        {"one actor", {"", "wall-screen", INT64_MIN, INT64_MAX, 100}, {3}, std::nullopt},
        {"since", {"", "", now, INT64_MAX, 100}, {4}, std::nullopt},
        {"a page", {"", "", INT64_MIN, INT64_MAX, 2}, {4, 3}, 3},
        {"the next page", {"", "", INT64_MIN, 3, 2}, {2, 1}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AuditPage page = reopened.Query(c.query);
        EXPECT_EQ(Ids(page), c.ids);
        EXPECT_EQ(page.next, c.next);
    }

    // Past the days kept only the newest entry stays.
    now += kDayMs;
    reopened.Prune();
    EXPECT_EQ(Ids(reopened.Query({})), (std::vector<int64_t>{4}));
}

}  // namespace
}  // namespace zendrik::daemon
