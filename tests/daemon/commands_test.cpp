// Commands as the MQTT command channel and the REST API read them, the checks that refuse them, the
// channel's replies and the memory of the replies given; and which of a reader's events are published.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "daemon/control/commands.h"
#include "daemon/http/http_routes.h"
#include "daemon/mqtt/command_channel.h"
#include "daemon/mqtt/command_request.h"
#include "daemon/mqtt/reply_cache.h"
#include "daemon/readers/publish_filter.h"
#include "rules/settings_table.h"
#include "tests/daemon/child_process.h"

namespace zendrik::daemon {
namespace {

TEST(CommandsTest, ParsesRequestsAndRefusesWhatCannotRun) {
    struct Case {
        const char* what;
        std::string payload;
        std::optional<std::string> id;       // as read
        std::optional<std::string> command;  // as read
        std::vector<SettingValue> settings;  // as read into the command
        const char* refusal;                 // a part of its words; nullptr: none
    };
    const Case cases[] = {
        {"a full request",
         R"({"id":"a1","command":"set-settings","args":{"power":20}})",
         "a1",
         "set-settings",
         {{"power", "20"}},
         nullptr},
        {"no args", R"({"id":"a1","command":"info"})", "a1", "info", {}, nullptr},
        {"null args", R"({"id":"a1","command":"info","args":null})", "a1", "info", {}, nullptr},
        {"an id of 64 characters",
         R"({"id":")" + std::string(64, 'x') + R"(","command":"info"})",
         std::string(64, 'x'),
         "info",
         {},
         nullptr},
        {"an id of 65 characters",
         R"({"id":")" + std::string(65, 'x') + R"(","command":"info"})",
         std::nullopt,
         "info",
         {},
         "1 to 64 characters"},
        {"an empty id", R"({"id":"","command":"info"})", std::nullopt, "info", {}, "1 to 64"},
        {"a number as id", R"({"id":7,"command":"info"})", std::nullopt, "info", {}, "1 to 64"},
        {"no id", R"({"command":"info"})", std::nullopt, "info", {}, "has no id"},
        {"no command", R"({"id":"a"})", "a", std::nullopt, {}, "has no command (commands: info,"},
        {"args that are a list",
         R"({"id":"a","command":"set-settings","args":[1]})",
         "a",
         "set-settings",
         {},
         "args must be a JSON object"},
        {"bad JSON", R"({"id":"a",)", std::nullopt, std::nullopt, {}, "no JSON object"},
        {"a JSON list", "[]", std::nullopt, std::nullopt, {}, "no JSON object"},
        {"a request larger than 64 KiB",
         R"({"id":"a","command":"info","pad":")" + std::string(65536, 'p') + "\"}",
         std::nullopt,
         std::nullopt,
         {},
         "larger than 64 KiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CommandRequest request = ParseCommandRequest(c.payload);
        EXPECT_EQ(request.id, c.id);
        EXPECT_EQ(request.command, c.command);
        ASSERT_TRUE(std::holds_alternative<Command>(request.run));
        EXPECT_EQ(std::get<Command>(request.run).settings, c.settings);
        ASSERT_EQ(request.refusal.has_value(), c.refusal != nullptr);
        if (c.refusal) {
            EXPECT_EQ(request.refusal->failure, CommandFailure::kBadRequest);
            EXPECT_EQ(request.refusal->code, kCodeBadRequest);
            EXPECT_NE(request.refusal->words.find(c.refusal), std::string::npos) << request.refusal->words;
        }
    }
}

std::string SettingNamesOfTable() {
    std::string names;
    for (const rules::Setting& setting : rules::AllSettings()) {
        names += (names.empty() ? "" : ", ") + std::string(setting.name);
    }
    return names;
}

// A request as MQTT or HTTP brings it, read once into a command, and checked for a reader of kind 0
// whose configuration file declares the buzzer: the assignments written, or the refusal's words
// exactly, its failure and code, as either channel gives them.
TEST(CommandsTest, EachEdgeReadsACommandOnceAndTheChecksRefuseWhatCannotRun) {
    enum class Edge { kMqtt, kHttpPut, kHttpPost };
    struct Case {
        const char* what;
        Edge edge;
        std::string input;               // the MQTT payload, or the body for the HTTP path
        std::string path;                // HTTP: the command's path
        std::optional<Command> command;  // as read; nothing when the edge refused it
        std::vector<std::string> assignments;
        std::string refusal;  // the exact words; empty: none
        CommandFailure failure = CommandFailure::kBadRequest;
        int32_t code = kCodeBadRequest;
    };
    const std::string put = "/api/v1/readers/gate-1/settings";
    const std::string nothingToSet = R"(nothing to set: give the settings as args, e.g. {"power":20})";
    const std::string notANumber =
        "the value of power must be a number or a text, as `zendrik set` takes it; nothing was written";
    const Case cases[] = {
        {"settings in their order",
         Edge::kMqtt,
         R"({"id":"s","command":"set-settings","args":{"power":20,"trigger-time":"5"}})",
         "",
         Command{CommandKind::kSetSettings, {{"power", "20"}, {"trigger-time", "5"}}, false},
         {"power=20", "trigger-time=5"},
         ""},
        {"a command without args",
         Edge::kMqtt,
         R"({"id":"g","command":"get-settings"})",
         "",
         Command{CommandKind::kGetSettings, {}, false},
         {},
         ""},
        {"args to a command that takes none",
         Edge::kMqtt,
         R"({"id":"r-6","command":"info","args":{"x":1}})",
         "",
         Command{CommandKind::kInfo, {}, true},
         {},
         "info takes no args"},
        {"nothing to set",
         Edge::kMqtt,
         R"({"id":"r-5","command":"set-settings"})",
         "",
         Command{CommandKind::kSetSettings, {}, false},
         {},
         nothingToSet},
        {"a value neither number nor text",
         Edge::kMqtt,
         R"({"id":"r-4","command":"set-settings","args":{"power":true}})",
         "",
         Command{CommandKind::kSetSettings, {{"power", std::nullopt}}, false},
         {},
         notANumber},
        {"a fraction",
         Edge::kMqtt,
         R"({"id":"f","command":"set-settings","args":{"power":20.5}})",
         "",
         Command{CommandKind::kSetSettings, {{"power", std::nullopt}}, false},
         {},
         notANumber},
        {"a declared key, before a later bad value",
         Edge::kMqtt,
         R"({"id":"m","command":"set-settings","args":{"buzzer":"on","power":[1]}})",
         "",
         Command{CommandKind::kSetSettings, {{"buzzer", "on"}, {"power", std::nullopt}}, false},
         {},
         "buzzer is managed by the configuration file; nothing was written",
         CommandFailure::kManaged,
         kCodeManaged},
        {"a bad value, before a later declared key",
         Edge::kMqtt,
         R"({"id":"m","command":"set-settings","args":{"power":[1],"buzzer":"on"}})",
         "",
         Command{CommandKind::kSetSettings, {{"power", std::nullopt}, {"buzzer", "on"}}, false},
         {},
         notANumber},
        {"a value out of the kind's range",
         Edge::kMqtt,
         R"({"id":"r","command":"set-settings","args":{"power":99}})",
         "",
         Command{CommandKind::kSetSettings, {{"power", "99"}}, false},
         {},
         R"(power must be a number from 0 to 33, got "99"; nothing was written)"},
        {"an unknown setting",
         Edge::kMqtt,
         R"({"id":"u","command":"set-settings","args":{"powr":9}})",
         "",
         Command{CommandKind::kSetSettings, {{"powr", "9"}}, false},
         {},
         "unknown setting \"powr\" (settings: " + SettingNamesOfTable() + "); nothing was written"},
        {"an unknown command",
         Edge::kMqtt,
         R"({"id":"r-7","command":"reboot"})",
         "",
         std::nullopt,
         {},
         "unknown command \"reboot\" (commands: info, get-settings, set-settings, check-settings, "
         "factory-default, stop, start)"},
        {"unreadable JSON",
         Edge::kMqtt,
         "{\"id\":",
         "",
         std::nullopt,
         {},
         R"(the request is no JSON object: send {"id":"…","command":"…","args":{…}})"},
        {"an id of 65 characters",
         Edge::kMqtt,
         R"({"id":")" + std::string(65, 'x') + R"(","command":"info"})",
         "",
         std::nullopt,
         {},
         "the id must be a text of 1 to 64 characters"},
        {"settings over HTTP",
         Edge::kHttpPut,
         R"({"power": 20, "buzzer": "off"})",
         put,
         Command{CommandKind::kSetSettings, {{"power", "20"}, {"buzzer", "off"}}, false},
         {},
         "buzzer is managed by the configuration file; nothing was written",
         CommandFailure::kManaged,
         kCodeManaged},
        {"one setting over HTTP",
         Edge::kHttpPut,
         R"({"trigger-time":7})",
         put,
         Command{CommandKind::kSetSettings, {{"trigger-time", "7"}}, false},
         {"trigger-time=7"},
         ""},
        {"an empty body over HTTP",
         Edge::kHttpPut,
         "{}",
         put,
         Command{CommandKind::kSetSettings, {}, false},
         {},
         nothingToSet},
        {"a body that is no object",
         Edge::kHttpPut,
         "[1,2",
         put,
         std::nullopt,
         {},
         R"(the body must be a JSON object of settings, as `zendrik set` takes them: {"power":20})"},
        {"a path's command, its body unread",
         Edge::kHttpPost,
         "{not json",
         "/api/v1/readers/gate-1/inventory/stop",
         Command{CommandKind::kStop, {}, false},
         {},
         ""},
    };
    const ReaderFacts reader{[](const std::string& name) { return name == "buzzer"; }, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<Command> read;
        std::optional<CommandOutcome> refused;
        if (c.edge == Edge::kMqtt) {
            const CommandRequest request = ParseCommandRequest(c.input);
            if (request.refusal) {
                refused = request.refusal;
            } else if (const auto* command = std::get_if<Command>(&request.run)) {
                read = *command;
            } else {
                refused = std::get<CommandOutcome>(request.run);
            }
        } else {
            const Route route = RouteOf(c.edge == Edge::kHttpPut ? "PUT" : "POST", c.path);
            ASSERT_EQ(route.kind, RouteKind::kCommand);
            const auto command = CommandOf(route, c.input);
            if (const auto* answer = std::get_if<HttpAnswer>(&command)) {
                EXPECT_EQ(answer->status, 400u);
                refused = CommandOutcome{CommandFailure::kBadRequest,
                                         {},
                                         kCodeBadRequest,
                                         nlohmann::json::parse(answer->body)["error"].get<std::string>()};
            } else {
                read = std::get<Command>(command);
            }
        }
        EXPECT_EQ(read, c.command);
        if (read) {
            const auto checked = CheckCommand(*read, reader);
            if (const auto* assignments = std::get_if<std::vector<std::string>>(&checked)) {
                EXPECT_EQ(*assignments, c.assignments);
            } else {
                refused = std::get<CommandOutcome>(checked);
            }
        }
        ASSERT_EQ(refused.has_value(), !c.refusal.empty()) << (refused ? refused->words : "");
        if (refused) {
            EXPECT_EQ(refused->words, c.refusal);
            EXPECT_EQ(refused->failure, c.failure);
            EXPECT_EQ(refused->code, c.code);
        }
    }
    // The reply of a request whose id could not be read says null.
    const CommandRequest unreadable = ParseCommandRequest("{\"id\":");
    EXPECT_EQ(nlohmann::json::parse(CommandReplyJson(unreadable, *unreadable.refusal, 0))["id"], nullptr);
}

// The policy and the reader come before the args: a request wrong twice gets the first refusal.
TEST(CommandsTest, PolicyThenReaderThenArgs) {
    struct Case {
        CommandPolicy policy;
        Command command;
        std::string words;
        CommandFailure failure;
    };
    const Command badSet{CommandKind::kSetSettings, {{"power", std::nullopt}}, false};
    const Case cases[] = {
        {CommandPolicy::kOff, Command{CommandKind::kInfo, {}, false},
         "info is not allowed: [control] commands is \"off\"", CommandFailure::kForbidden},
        {CommandPolicy::kReadOnly, badSet, "set-settings is not allowed: [control] commands is \"read-only\"",
         CommandFailure::kForbidden},
        {CommandPolicy::kReadOnly, Command{CommandKind::kInfo, {}, true}, "no reader is named \"nobody\"",
         CommandFailure::kUnknownReader},
        {CommandPolicy::kAll, badSet, "no reader is named \"nobody\"", CommandFailure::kUnknownReader},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        Commands commands(c.policy, [](const std::string&) { return nullptr; });
        std::optional<CommandOutcome> outcome;
        commands.Run("nobody", c.command, [&](const CommandOutcome& given) { outcome = given; });
        ASSERT_TRUE(outcome.has_value());
        EXPECT_EQ(outcome->words, c.words);
        EXPECT_EQ(outcome->failure, c.failure);
    }
}

// Over MQTT the actor is the request's user property "actor", else "mqtt"; one that is empty, too
// long or holds a control character is refused before anything runs. Every command that runs is
// in the audit trail with its caller, those [control] refuses as denied.
TEST(CommandsTest, RecordsEveryMqttCommandWithItsActor) {
    const testing::TemporaryDirectory directory;
    AuditTrail trail(directory.File("audit.sqlite"), 365);
    Commands commands(
        CommandPolicy::kReadOnly, [](const std::string&) { return nullptr; }, &trail);
    const Topics topics("zt", "t");
    std::vector<std::string> replies;
    CommandChannel channel(
        topics, commands,
        [&](const std::string&, const std::string& payload, const std::optional<std::string>&) {
            replies.push_back(payload);
            return true;
        });
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> properties;
        std::string command;
        std::optional<std::string> actor;  // recorded; nothing: refused unrecorded
        const char* outcome = "";
    };
    const Case cases[] = {
        {"no actor", {}, "info", "mqtt", "failed"},
        {"an actor", {{"site", "x"}, {"actor", "desk-7"}}, "info", "desk-7", "failed"},
        {"denied by [control]", {{"actor", "desk-7"}}, "stop", "desk-7", "denied"},
        {"an empty actor", {{"actor", ""}}, "info", std::nullopt},
        {"an actor too long", {{"actor", std::string(65, 'a')}}, "info", std::nullopt},
        {"a control character", {{"actor", "desk\n7"}}, "info", std::nullopt},
    };
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IncomingMessage message;
        message.topic = topics.Command("gate-1");
        message.payload = R"({"id":"r-)" + std::to_string(++id) + R"(","command":")" + c.command + "\"}";
        message.userProperties = c.properties;
        const std::size_t entries = trail.Query({}).entries.size();
        channel.OnMessage(message);
        const nlohmann::json reply = nlohmann::json::parse(replies.back());
        EXPECT_EQ(reply["ok"], false);
        const AuditPage page = trail.Query({});
        if (!c.actor) {
            EXPECT_NE(reply["error"]["words"].get<std::string>().find("\"actor\" must be a text of 1 to 64"),
                      std::string::npos);
            EXPECT_EQ(page.entries.size(), entries);
            continue;
        }
        ASSERT_EQ(page.entries.size(), entries + 1);
        const auto entry = AuditRecordJson(page.entries.front());
        EXPECT_EQ(entry["actor"], *c.actor);
        EXPECT_EQ(entry["path"], "mqtt");
        EXPECT_EQ(entry["reader"], "gate-1");
        EXPECT_EQ(entry["command"], c.command);
        EXPECT_EQ(entry["outcome"], c.outcome);
    }
}

TEST(CommandsTest, RepliesAndRemembersThemForTenMinutes) {
    CommandRequest request = ParseCommandRequest(R"({"id":"r-1","command":"stop"})");
    EXPECT_EQ(CommandReplyJson(request,
                               CommandOutcome{CommandFailure::kNone, R"({"inventory":"stopped"})", 0, ""}, 0),
              R"({"id":"r-1","command":"stop","ok":true,"result":{"inventory":"stopped"},)"
              R"("time":"1970-01-01T00:00:00.000Z"})");
    const CommandRequest unreadable = ParseCommandRequest("{");
    nlohmann::ordered_json refused = {
        {"id", nullptr},
        {"command", nullptr},
        {"ok", false},
        {"error", {{"code", kCodeBadRequest}, {"words", unreadable.refusal->words}}},
        {"time", "1970-01-01T00:00:01.000Z"}};
    EXPECT_EQ(CommandReplyJson(unreadable, *unreadable.refusal, 1000), refused.dump());

    ReplyCache cache;
    const auto start = ReplyCache::Clock::time_point{};
    cache.Store("gate-1", "r-1", "first", start);
    cache.Store("gate-1", "r-1", "second", start);  // the first reply stays the one given
    ASSERT_NE(cache.Find("gate-1", "r-1", start + std::chrono::minutes{9}), nullptr);
    EXPECT_EQ(*cache.Find("gate-1", "r-1", start + std::chrono::minutes{9}), "first");
    EXPECT_EQ(cache.Find("gate-2", "r-1", start), nullptr);  // ids are per reader
    EXPECT_EQ(cache.Find("gate-1", "r-1", start + ReplyCache::kKeepFor), nullptr);
    EXPECT_EQ(cache.size(), 0u);
    // Bounded: the oldest go first.
    for (std::size_t i = 0; i <= ReplyCache::kMaxEntries; ++i) {
        cache.Store("gate-1", std::to_string(i), "reply", start);
    }
    EXPECT_EQ(cache.size(), ReplyCache::kMaxEntries);
    EXPECT_EQ(cache.Find("gate-1", "0", start), nullptr);
    EXPECT_NE(cache.Find("gate-1", std::to_string(ReplyCache::kMaxEntries), start), nullptr);
}

zendrik_event TagEvent(int32_t kind, const std::vector<uint8_t>& epc, int64_t timeMs) {
    zendrik_event event{};
    event.kind = kind;
    event.time_ms = timeMs;
    std::memcpy(event.epc, epc.data(), epc.size());
    event.epc_length = static_cast<uint32_t>(epc.size());
    return event;
}

TEST(PublishFilterTest, PassesTheKindsPrefixesAndOneReadPerInterval) {
    const std::vector<uint8_t> wanted{0xe2, 0x00, 0x34, 0x12};
    const std::vector<uint8_t> dead{0xe2, 0x00, 0x00, 0x00, 0xde, 0xad, 0x01};
    const std::vector<uint8_t> other{0x30, 0x00};
    ReaderConfig config;
    config.epcInclude = {"e200"};
    config.epcExclude = {"e2000000dead"};
    config.readIntervalMs = 1000;
    config.publish = kPublishAll & ~kPublishLinkLost;
    PublishFilter filter(config);
    struct Step {
        const char* what;
        zendrik_event event;
        bool passes;
    };
    const Step steps[] = {
        {"an included tag arrives", TagEvent(ZENDRIK_EVENT_ARRIVED, wanted, 0), true},
        {"its first read", TagEvent(ZENDRIK_EVENT_READ, wanted, 0), true},
        {"a read within the interval", TagEvent(ZENDRIK_EVENT_READ, wanted, 999), false},
        {"a read once the interval passed", TagEvent(ZENDRIK_EVENT_READ, wanted, 1000), true},
        {"an excluded tag", TagEvent(ZENDRIK_EVENT_READ, dead, 0), false},
        {"an excluded tag's arrival", TagEvent(ZENDRIK_EVENT_ARRIVED, dead, 0), false},
        {"a tag outside the prefixes", TagEvent(ZENDRIK_EVENT_READ, other, 0), false},
        {"its departure", TagEvent(ZENDRIK_EVENT_DEPARTED, other, 0), false},
        {"the included tag departs", TagEvent(ZENDRIK_EVENT_DEPARTED, wanted, 1200), true},
        {"back at once: its interval ended with it", TagEvent(ZENDRIK_EVENT_READ, wanted, 1300), true},
        {"a link lost, left out", TagEvent(ZENDRIK_EVENT_LINK_LOST, {}, 0), false},
        {"a link restored", TagEvent(ZENDRIK_EVENT_LINK_RESTORED, {}, 0), true},
        {"the link up that begins a stream", TagEvent(ZENDRIK_EVENT_LINK_UP, {}, 0), true},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(filter.Passes(step.event), step.passes) << step.what;
    }
    EXPECT_EQ(filter.remembered(), 1u);

    // Reads left out while departures are published: a departure still ends the interval.
    config = ReaderConfig{};
    config.publish = kPublishDeparted;
    config.readIntervalMs = 1000;
    PublishFilter departures(config);
    EXPECT_FALSE(departures.Passes(TagEvent(ZENDRIK_EVENT_READ, wanted, 0)));
    EXPECT_TRUE(departures.Passes(TagEvent(ZENDRIK_EVENT_DEPARTED, wanted, 0)));
    EXPECT_EQ(EpcHex(TagEvent(ZENDRIK_EVENT_READ, dead, 0)), "e2000000dead01");
}

}  // namespace
}  // namespace zendrik::daemon
