// One reader's runtime without a broker: a scripted source, the loop, and the test standing in for
// the site (it stores when it is told to). Each row is a short script of what happens to a reader
// and what follows: its state, its link, what was stored and in which order, what its waiters
// were handed and how often the status went out. And the desired settings against a reader that
// keeps settings of its own, with and without enforcement.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "daemon/readers/desired_settings.h"
#include "daemon/readers/reader_runtime.h"
#include "daemon/readers/session_source.h"
#include "tests/daemon/child_process.h"
#include "tests/daemon/queued_source.h"

namespace zendrik::daemon {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

// A reader's stream as the library keeps it: an event descriptor readable while events are queued,
// the first event written at the start, and an answer to each request queued behind what is
// queued already.
class FakeSource : public QueuedSource {
  public:
    struct Script {
        std::optional<std::string> openFailure{};
        int32_t firstEvent = 0;                    // written by Start(); 0: none
        std::optional<ReaderIdentity> identity{};  // what INFO answers; nothing: not reached
        bool silent = false;                       // requests other than INFO are never answered
        const char* plan = "{}";                   // what a comparison of settings answers
    };

    explicit FakeSource(Script script) : script_(std::move(script)) {}

    std::optional<std::string> Open() override { return script_.openFailure; }
    std::optional<std::string> Start() override {
        if (script_.firstEvent != 0) {
            Push(script_.firstEvent);
        }
        return std::nullopt;
    }
    void Stop() override {}
    uint64_t dropped() const override { return 0; }

    std::variant<uint64_t, int32_t> Submit(const ReaderRequest& request) override {
        ++submitted_[request.kind];
        zendrik_event completed{};
        completed.kind = ZENDRIK_EVENT_COMPLETED;
        completed.request_id = ++lastId_;
        completed.request = request.kind;
        if (request.kind == ZENDRIK_REQUEST_INFO) {
            Identify(completed);
        } else if (script_.silent) {
            return completed.request_id;
        } else {
            Answer(completed);
        }
        Queue(completed);
        return completed.request_id;
    }

    void Push(int32_t kind) {
        zendrik_event event{};
        event.kind = kind;
        event.epc_length = 1;
        Queue(event);
    }
    int submitted(int32_t kind) { return submitted_[kind]; }

  private:
    void Identify(zendrik_event& completed) const {
        completed.result = script_.identity ? ZENDRIK_OK : ZENDRIK_ERR_NOT_REACHED;
        if (script_.identity) {
            completed.info.kind = script_.identity->kind;
            std::snprintf(completed.info.version, sizeof completed.info.version, "%s",
                          script_.identity->version.c_str());
            std::snprintf(completed.info.serial, sizeof completed.info.serial, "%s",
                          script_.identity->serial.c_str());
        }
    }
    // Every settings request succeeds; a comparison finds what the script says.
    void Answer(zendrik_event& completed) const {
        completed.result = ZENDRIK_OK;
        std::snprintf(completed.json, sizeof completed.json, "%s",
                      completed.request == ZENDRIK_REQUEST_PLAN_CHANGE ? script_.plan : "{}");
    }
    Script script_;
    uint64_t lastId_ = 0;
    std::map<int32_t, int> submitted_;
};

// What happens to the reader, in order.
enum class Op {
    kOpen,      // opened, and the loop turned until it has been
    kPush,      // an event of `kind` in its stream
    kTurn,      // the loop turns until nothing is left to do now (the store not counted)
    kStore,     // the store runs: everything queued into one committed burst
    kAsk,       // a command queued: a request of `kind`
    kStop,      // stopped, and the loop turned until it has been
    kClose,     // closed, and the loop turned until it has been
    kOpenStop,  // opened and stopped at once, before the opening has ended
};

struct Action {
    Op op;
    int32_t kind = 0;
};

// The site's part: stores what the reader queued when the script says so, and counts what it is told.
class Bench : public ReaderRuntime::Owner {
  public:
    // One spool for every row: opening one costs more than all a row does.
    Bench(Spool& spool, const FakeSource::Script& script, ReaderConfig config)
        : spool_(spool),
          source_(new FakeSource(script)),
          reader_(config, std::unique_ptr<ReaderSource>(source_), loop_, offLoop_, *this) {}

    void Run(const Action& action) {
        switch (action.op) {
            case Op::kOpen:
                reader_.Open();
                TurnUntil([&] { return !reader_.opening(); });
                break;
            case Op::kPush:
                source_->Push(action.kind);
                break;
            case Op::kTurn:
                Turn();
                break;
            case Op::kStore:
                Store();
                break;
            case Op::kAsk:
                Ask(action.kind);
                break;
            case Op::kStop:
                reader_.Stop();
                TurnUntil([&] { return stopped_; });
                break;
            case Op::kClose:
                reader_.Close();
                TurnUntil([&] { return closed_; });
                break;
            case Op::kOpenStop:
                reader_.Open();
                reader_.Stop();
                TurnUntil([&] { return stopped_; });
                break;
        }
    }

    ReaderRuntime& reader() { return reader_; }
    FakeSource& source() { return *source_; }
    std::vector<std::string> stored;  // kinds, in the order of their sequence numbers
    std::vector<int32_t> answers;     // the results handed to the commands
    int statuses = 0;

  private:
    void Ask(int32_t kind) {
        const auto refused = reader_.Request(ReaderRequest{kind, {}}, [this](const zendrik_event& completed) {
            answers.push_back(completed.result);
        });
        if (refused) {
            answers.push_back(*refused);
        }
    }
    void Store() {
        const EventRenderer render = [](const zendrik_event& event) { return EventJson(event); };
        std::vector<zendrik_event> batch(4);
        const StoreContext context{topics_, render,
                                   [this](StoredEvent event) { stored.emplace_back(event.kind); }, batch};
        bool drained = false;
        while (!drained) {
            {
                Spool::Burst burst = spool_.Begin();
                drained = reader_.TakeEvents(burst, context, kBurst);
                burst.Commit();
            }
            reader_.AfterCommit();
        }
        reader_.WatchAgain();
    }
    void Turn() {
        for (int turn = 0; turn < kQuietTurns; ++turn) {
            loop_.RunOnce(0ms);
        }
    }
    // Opening, stopping and closing end on threads of their own.
    template <typename Done>
    void TurnUntil(Done done) {
        for (int turn = 0; turn < kTurnsMax && !done(); ++turn) {
            loop_.RunOnce(10ms);
        }
        ASSERT_TRUE(done());
        Turn();
    }

    void OnEventsQueued(ReaderRuntime&) override {}
    void OnOpened(ReaderRuntime&) override {}
    void OnStatusChanged(ReaderRuntime&) override { ++statuses; }
    void OnStopped(ReaderRuntime&) override { stopped_ = true; }
    void OnClosed(ReaderRuntime&) override { closed_ = true; }

    static constexpr std::size_t kBurst = 3;  // small: a take that does not fit one burst is covered
    static constexpr int kQuietTurns = 20;
    static constexpr int kTurnsMax = 500;
    Spool& spool_;
    Topics topics_{"zt", "t"};
    EventLoop loop_;
    OffLoop offLoop_{loop_};
    bool stopped_ = false;
    bool closed_ = false;
    FakeSource* source_;  // owned by the reader
    ReaderRuntime reader_;
};

ReaderConfig Reader(std::vector<DeclaredSetting> settings = {}, uint32_t publish = kPublishAll) {
    ReaderConfig config{"gate-1", "usb", 3000, 0};
    config.settingsManaged = !settings.empty();
    config.settings = std::move(settings);
    config.settingsCheckS = 0;
    config.publish = publish;
    return config;
}

const ReaderIdentity kIdentity{2, "V1.2", "00aa11"};
constexpr uint64_t kSpoolMessages = 1000;

TEST(ReaderRuntimeTest, StatesLinkStoredEventsAndAnswersFollowTheStream) {
    constexpr Action kOpen{Op::kOpen};
    constexpr Action kTurn{Op::kTurn};
    constexpr Action kStore{Op::kStore};
    constexpr Action kStop{Op::kStop};
    constexpr Action kClose{Op::kClose};
    constexpr Action kLinkLost{Op::kPush, ZENDRIK_EVENT_LINK_LOST};
    constexpr Action kLinkRestored{Op::kPush, ZENDRIK_EVENT_LINK_RESTORED};
    constexpr Action kRead{Op::kPush, ZENDRIK_EVENT_READ};
    constexpr Action kArrived{Op::kPush, ZENDRIK_EVENT_ARRIVED};
    constexpr Action kAskSettings{Op::kAsk, ZENDRIK_REQUEST_READ_SETTINGS};
    using Kinds = std::vector<std::string>;
    using Results = std::vector<int32_t>;
    struct Row {
        const char* what;
        FakeSource::Script script;
        std::vector<Action> actions;
        ReaderState state;
        LinkState link;
        bool statusKnown;
        Kinds stored;
        Results answers;
        int statuses;
        uint64_t reads = 0;
        uint32_t publish = kPublishAll;
        std::vector<DeclaredSetting> settings{};
    };
    const char* const kPowerDrift = R"({"power":{"want":20,"have":33}})";
    const std::vector<DeclaredSetting> kPower20{{"power", "20"}};
    const Row rows[] = {
        {"answers at open: identified, the first status once, the link-up stored after it",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {kOpen, kTurn, kStore},
         ReaderState::kReading,
         LinkState::kUp,
         true,
         {"link-up"},
         {},
         1},
        {"cannot be reached at open: the answer fails, the link is down and never was up",
         {.firstEvent = ZENDRIK_EVENT_LINK_LOST},
         {kOpen, kTurn, kStore},
         ReaderState::kReading,
         LinkState::kUnreached,
         true,
         {"link-lost"},
         {},
         1},
        {"a stream without a link event: the first answer tells the link",
         {.identity = kIdentity},
         {kOpen, kTurn},
         ReaderState::kReading,
         LinkState::kUp,
         true,
         {},
         {},
         1},
        {"lost and restored: each after its commit in the status, asked again who it is",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {kOpen, kTurn, kStore, kLinkLost, kStore, kLinkRestored, kStore, kTurn},
         ReaderState::kReading,
         LinkState::kUp,
         true,
         {"link-up", "link-lost", "link-restored"},
         {},
         4},
        {"lost after it was up",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {kOpen, kTurn, kStore, kLinkLost, kStore},
         ReaderState::kReading,
         LinkState::kLost,
         true,
         {"link-up", "link-lost"},
         {},
         2},
        {"reads counted and stored in order, over more than one burst",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {kOpen, kTurn, kRead, kArrived, kRead, kRead, kStore},
         ReaderState::kReading,
         LinkState::kUp,
         true,
         {"link-up", "read", "arrived", "read", "read"},
         {},
         1,
         3},
        {"what the filter leaves out is counted, never stored",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {kOpen, kTurn, kRead, kArrived, kStore},
         ReaderState::kReading,
         LinkState::kUp,
         true,
         {"arrived"},
         {},
         1,
         1,
         kPublishArrived},
        {"a command's answer is handed when it is taken, before anything behind or before it is stored",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {kOpen, kTurn, kRead, kAskSettings, kTurn},
         ReaderState::kReading,
         LinkState::kUp,
         true,
         {},
         {ZENDRIK_OK},
         1,
         1},
        {"the reads before the answer are stored at the next commit, in their order",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {kOpen, kTurn, kRead, kAskSettings, kTurn, kRead, kStore},
         ReaderState::kReading,
         LinkState::kUp,
         true,
         {"link-up", "read", "read"},
         {ZENDRIK_OK},
         1,
         2},
        {"an answer met while storing is handed once that commit is made",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {kOpen, kTurn, kAskSettings, kStore},
         ReaderState::kReading,
         LinkState::kUp,
         true,
         {"link-up"},
         {ZENDRIK_OK},
         1},
        {"a command while it cannot be opened is refused at once",
         {.openFailure = "no such device"},
         {kOpen, kAskSettings},
         ReaderState::kFailed,
         LinkState::kUnknown,
         false,
         {},
         {ZENDRIK_ERR_NOT_REACHED},
         0},
        {"stopped after reading: what it queued is stored, nothing more is asked",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {kOpen, kTurn, kRead, kStop, kStore, kAskSettings},
         ReaderState::kStopped,
         LinkState::kUp,
         true,
         {"link-up", "read"},
         {ZENDRIK_ERR_NOT_REACHED},
         1,
         1},
        {"stopped while it is opened: stopped once the opening has ended, never identified",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity},
         {{Op::kOpenStop}},
         ReaderState::kStopped,
         LinkState::kUnknown,
         false,
         {},
         {},
         0},
        {"stopped when it could not be opened: nothing to stop",
         {.openFailure = "no such device"},
         {kOpen, kStop, kClose},
         ReaderState::kClosed,
         LinkState::kUnknown,
         false,
         {},
         {},
         0},
        {"closed while a command waits: the command fails, none is left unanswered",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity, .silent = true},
         {kOpen, kTurn, kAskSettings, kStop, kStore, kClose},
         ReaderState::kClosed,
         LinkState::kUp,
         true,
         {"link-up"},
         {ZENDRIK_ERR_CANCELLED},
         1},
        {"settings compared once the link-up is stored; the daemon's own events take their place in the "
         "stream",
         {.firstEvent = ZENDRIK_EVENT_LINK_UP, .identity = kIdentity, .plan = kPowerDrift},
         {kOpen, kTurn, kStore, kRead, kTurn, kStore},
         ReaderState::kReading,
         LinkState::kUp,
         true,
         {"link-up", "settings-drift", "read", "settings-applied"},
         {},
         2,
         1,
         kPublishAll,
         kPower20},
    };
    testing::TemporaryDirectory directory;
    Spool spool(directory.File("spool"), kSpoolMessages);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bench bench(spool, row.script, Reader(row.settings, row.publish));
        for (const Action& action : row.actions) {
            bench.Run(action);
        }
        ReaderRuntime& reader = bench.reader();
        EXPECT_EQ(ReaderStateName(reader.state()), std::string(ReaderStateName(row.state)));
        const ReaderSnapshot snapshot = reader.Snapshot(ReaderCounts{}, false);
        EXPECT_EQ(LinkStateName(reader.link()), std::string(LinkStateName(row.link)));
        EXPECT_EQ(reader.linkUp(), row.link == LinkState::kUp);
        const auto lost = std::count_if(row.actions.begin(), row.actions.end(), [](const Action& action) {
            return action.kind == ZENDRIK_EVENT_LINK_LOST;
        });
        EXPECT_EQ(snapshot.linkLosses,
                  static_cast<uint64_t>(lost) + (row.script.firstEvent == ZENDRIK_EVENT_LINK_LOST ? 1 : 0));
        EXPECT_EQ(reader.statusKnown(), row.statusKnown);
        EXPECT_EQ(bench.stored, row.stored);
        EXPECT_EQ(snapshot.published, row.stored.size());
        EXPECT_EQ(bench.answers, row.answers);
        EXPECT_EQ(bench.statuses, row.statuses);
        EXPECT_EQ(snapshot.reads, row.reads);
        if (row.statusKnown && row.script.identity) {
            EXPECT_EQ(reader.kind(), row.script.identity->kind);
            EXPECT_EQ(nlohmann::json::parse(snapshot.statusJson)["serial"], row.script.identity->serial);
        }
    }
}

// A reader that keeps settings of its own for DesiredSettings: a comparison answers the
// differences from them, a write changes them (or fails), and every request and event is noted.
class SettingsReader : public DesiredSettings::Reader {
  public:
    std::map<std::string, std::string> have;
    int32_t writeResult = ZENDRIK_OK;
    int32_t compareResult = ZENDRIK_OK;
    bool open = true;
    std::vector<std::string> requests;  // "plan power=20 buzzer=off", "configure power=20"
    std::vector<std::string> events;    // "settings-drift {…}"
    int changes = 0;

    std::optional<int32_t> Request(ReaderRequest request, Completion done) override {
        if (!open) {
            return ZENDRIK_ERR_NOT_REACHED;
        }
        const bool write = request.kind == ZENDRIK_REQUEST_CONFIGURE;
        std::string noted = write ? "configure" : "plan";
        Json differences = Json::object();
        for (const std::string& assignment : request.assignments) {
            noted += " " + assignment;
            const std::string name = assignment.substr(0, assignment.find('='));
            const std::string value = assignment.substr(assignment.find('=') + 1);
            if (write && writeResult == ZENDRIK_OK) {
                have[name] = value;
            } else if (!write && have[name] != value) {
                differences[name] = Json{{"want", std::stoi(value)}, {"have", std::stoi(have[name])}};
            }
        }
        requests.push_back(noted);
        auto completed = std::make_unique<RequestEnd>();
        completed->kind = ZENDRIK_EVENT_COMPLETED;
        completed->result = write ? writeResult : compareResult;
        std::snprintf(completed->json, sizeof completed->json, "%s", differences.dump().c_str());
        if (completed->result != ZENDRIK_OK) {
            completed->json[0] = '\0';
        } else {
            completed->resultJson = differences.dump();  // the whole result, as the runtime hands it
        }
        done(*completed);  // at once: the reader's answer as the loop would hand it
        return std::nullopt;
    }
    void Emit(std::string_view kind, Json fields) override {
        events.push_back(std::string(kind) + " " + fields.dump());
    }
    void SettingsChanged() override { ++changes; }
};

// Drift found and reported once while it stays the same; with enforcement only the values that
// differ written (the output length along with a Wiegand format), a reader whose settings match
// never written, and each failure reported once.
TEST(DesiredSettingsTest, FindsDriftAndWritesOnlyWhatDiffers) {
    using Lines = std::vector<std::string>;
    struct Row {
        const char* what;
        std::vector<DeclaredSetting> declared;
        bool enforce;
        std::map<std::string, std::string> have;  // the reader's own
        int32_t compareResult;
        int32_t writeResult;
        Lines requests;  // of the first comparison
        Lines events;    // of the first comparison
        SettingsState state;
        std::string drift;
        Lines requestsAgain;  // of the next comparison, the reader as the first left it
        Lines eventsAgain;
    };
    const std::vector<DeclaredSetting> power20{{"power", "20"}};
    const Row rows[] = {
        {"in sync: compared, never written",
         power20,
         true,
         {{"power", "20"}},
         ZENDRIK_OK,
         ZENDRIK_OK,
         {"plan power=20"},
         {},
         SettingsState::kInSync,
         "",
         {"plan power=20"},
         {}},
        {"drifted, enforced: the difference written back, then in sync",
         power20,
         true,
         {{"power", "33"}},
         ZENDRIK_OK,
         ZENDRIK_OK,
         {"plan power=20", "configure power=20"},
         {R"(settings-drift {"differences":{"power":{"want":20,"have":33,"source":"reader"}}})",
          R"(settings-applied {"written":{"power":20},"sources":{"power":"reader"}})"},
         SettingsState::kInSync,
         "",
         {"plan power=20"},
         {}},
        {"only what differs is written",
         {{"power", "20"}, {"buzzer", "0"}},
         true,
         {{"power", "20"}, {"buzzer", "1"}},
         ZENDRIK_OK,
         ZENDRIK_OK,
         {"plan power=20 buzzer=0", "configure buzzer=0"},
         {R"(settings-drift {"differences":{"buzzer":{"want":0,"have":1,"source":"reader"}}})",
          R"(settings-applied {"written":{"buzzer":0},"sources":{"buzzer":"reader"}})"},
         SettingsState::kInSync,
         "",
         {"plan power=20 buzzer=0"},
         {}},
        {"a profile's value beside the reader's own: each says where it comes from",
         {{"power", "20"}, {"buzzer", "0", "dock-door"}},
         true,
         {{"power", "33"}, {"buzzer", "1"}},
         ZENDRIK_OK,
         ZENDRIK_OK,
         {"plan power=20 buzzer=0", "configure power=20 buzzer=0"},
         {R"(settings-drift {"differences":{"power":{"want":20,"have":33,"source":"reader"},"buzzer":{"want":0,"have":1,"source":"profile"}}})",
          R"(settings-applied {"written":{"power":20,"buzzer":0},"sources":{"power":"reader","buzzer":"profile"}})"},
         SettingsState::kInSync,
         "",
         {"plan power=20 buzzer=0"},
         {}},
        {"a Wiegand format is written with the declared output length",
         {{"wiegand-format", "26"}, {"output-length", "4"}},
         true,
         {{"wiegand-format", "34"}, {"output-length", "4"}},
         ZENDRIK_OK,
         ZENDRIK_OK,
         {"plan wiegand-format=26 output-length=4", "configure wiegand-format=26 output-length=4"},
         {R"(settings-drift {"differences":{"wiegand-format":{"want":26,"have":34,"source":"reader"}}})",
          R"(settings-applied {"written":{"wiegand-format":26},"sources":{"wiegand-format":"reader"}})"},
         SettingsState::kInSync,
         "",
         {"plan wiegand-format=26 output-length=4"},
         {}},
        {"report only: drift told once while it stays, never written",
         power20,
         false,
         {{"power", "33"}},
         ZENDRIK_OK,
         ZENDRIK_OK,
         {"plan power=20"},
         {R"(settings-drift {"differences":{"power":{"want":20,"have":33,"source":"reader"}}})"},
         SettingsState::kDrifted,
         R"({"power":{"want":20,"have":33,"source":"reader"}})",
         {"plan power=20"},
         {}},
        {"a write that fails: drifted, and tried again at the next finding",
         power20,
         true,
         {{"power", "33"}},
         ZENDRIK_OK,
         ZENDRIK_ERR_INVALID_ARGUMENT,
         {"plan power=20", "configure power=20"},
         {R"(settings-drift {"differences":{"power":{"want":20,"have":33,"source":"reader"}}})",
          "settings-failed"},
         SettingsState::kDrifted,
         R"({"power":{"want":20,"have":33,"source":"reader"}})",
         {"plan power=20", "configure power=20"},
         {R"(settings-drift {"differences":{"power":{"want":20,"have":33,"source":"reader"}}})",
          "settings-failed"}},
        {"a reader out of reach: nothing told, compared again when its link is back",
         power20,
         true,
         {{"power", "33"}},
         ZENDRIK_ERR_NOT_REACHED,
         ZENDRIK_OK,
         {"plan power=20"},
         {},
         SettingsState::kApplying,
         "",
         {"plan power=20"},
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EventLoop loop;
        SettingsReader reader;
        reader.have = row.have;
        reader.compareResult = row.compareResult;
        reader.writeResult = row.writeResult;
        ReaderConfig config = Reader(row.declared);
        config.settingsEnforce = row.enforce;
        DesiredSettings desired(config, loop, reader);
        desired.Check();
        const auto withoutWords = [](Lines events) {
            for (std::string& event : events) {
                if (event.rfind("settings-failed", 0) == 0) {
                    event = "settings-failed";  // the library's words for the failure
                }
            }
            return events;
        };
        EXPECT_EQ(reader.requests, row.requests);
        EXPECT_EQ(withoutWords(reader.events), row.events);
        EXPECT_STREQ(SettingsStateWords(desired.state()), SettingsStateWords(row.state));
        EXPECT_EQ(desired.driftJson(), row.drift);
        reader.requests.clear();
        reader.events.clear();
        desired.Check();  // the next settings_check_s
        EXPECT_EQ(reader.requests, row.requestsAgain);
        EXPECT_EQ(withoutWords(reader.events), row.eventsAgain);
    }
}

// Nothing is compared for a reader without [reader.settings], nor once stopped; a reader that is
// not open is compared at its next connection.
TEST(DesiredSettingsTest, ComparesOnlyWhatIsManagedAndOpen) {
    EventLoop loop;
    SettingsReader unmanagedReader;
    DesiredSettings unmanaged(Reader(), loop, unmanagedReader);
    unmanaged.Check();
    EXPECT_TRUE(unmanagedReader.requests.empty());
    EXPECT_STREQ(SettingsStateWords(unmanaged.state()), "unmanaged");

    SettingsReader closed;
    closed.open = false;
    DesiredSettings desired(Reader({{"power", "20"}}), loop, closed);
    desired.Check();
    EXPECT_STREQ(SettingsStateWords(desired.state()), "applying");
    closed.open = true;
    closed.have["power"] = "20";
    desired.Check();
    EXPECT_EQ(closed.requests, std::vector<std::string>{"plan power=20"});
    EXPECT_STREQ(SettingsStateWords(desired.state()), "in-sync");
    desired.Stop();
    desired.Check();
    EXPECT_EQ(closed.requests.size(), 1u);
}

}  // namespace
}  // namespace zendrik::daemon
