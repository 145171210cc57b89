// The command channel's requests as they come over MQTT, its replies and the memory of the replies
// given; and which of a reader's events are published.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "daemon/control/commands.h"
#include "daemon/readers/publish_filter.h"

namespace zendrik::daemon {
namespace {

TEST(CommandsTest, ParsesRequestsAndRefusesWhatCannotRun) {
    struct Case {
        const char* what;
        std::string payload;
        std::optional<std::string> id;       // as read
        std::optional<std::string> command;  // as read
        std::string args;                    // as passed on
        const char* refusal;                 // a part of its words; nullptr: none
    };
    const Case cases[] = {
        {"a full request", R"({"id":"a1","command":"set-settings","args":{"power":20}})", "a1",
         "set-settings", R"({"power":20})", nullptr},
        {"no args", R"({"id":"a1","command":"info"})", "a1", "info", "{}", nullptr},
        {"null args", R"({"id":"a1","command":"info","args":null})", "a1", "info", "{}", nullptr},
        {"an id of 64 characters", R"({"id":")" + std::string(64, 'x') + R"(","command":"info"})",
         std::string(64, 'x'), "info", "{}", nullptr},
        {"an id of 65 characters", R"({"id":")" + std::string(65, 'x') + R"(","command":"info"})",
         std::nullopt, "info", "{}", "1 to 64 characters"},
        {"an empty id", R"({"id":"","command":"info"})", std::nullopt, "info", "{}", "1 to 64"},
        {"a number as id", R"({"id":7,"command":"info"})", std::nullopt, "info", "{}", "1 to 64"},
        {"no id", R"({"command":"info"})", std::nullopt, "info", "{}", "has no id"},
        {"no command", R"({"id":"a"})", "a", std::nullopt, "{}", "has no command (commands: info,"},
        {"args that are a list", R"({"id":"a","command":"set-settings","args":[1]})", "a", "set-settings",
         "{}", "args must be a JSON object"},
        {"bad JSON", R"({"id":"a",)", std::nullopt, std::nullopt, "{}", "no JSON object"},
        {"a JSON list", "[]", std::nullopt, std::nullopt, "{}", "no JSON object"},
        {"a request larger than 64 KiB",
         R"({"id":"a","command":"info","pad":")" + std::string(65536, 'p') + "\"}", std::nullopt,
         std::nullopt, "{}", "larger than 64 KiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CommandRequest request = ParseCommandRequest(c.payload);
        EXPECT_EQ(request.id, c.id);
        EXPECT_EQ(request.command, c.command);
        EXPECT_EQ(request.argsJson, c.args);
        ASSERT_EQ(request.refusal.has_value(), c.refusal != nullptr);
        if (c.refusal) {
            EXPECT_EQ(request.refusal->failure, CommandFailure::kBadRequest);
            EXPECT_EQ(request.refusal->code, kCodeBadRequest);
            EXPECT_NE(request.refusal->words.find(c.refusal), std::string::npos) << request.refusal->words;
        }
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
