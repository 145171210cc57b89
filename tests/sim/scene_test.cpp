#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/short_frame.h"
#include "link/frame.h"
#include "sim/reader.h"
#include "sim/replay_text.h"
#include "sim/scene_player.h"
#include "sim/scene_text.h"
#include "tests/sim/reply_view.h"

namespace zendrik::sim {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kDoor{0xE2, 0x00, 0x01};
const Bytes kDesk{0xE2, 0x00, 0x02};
constexpr std::size_t kTestEpcSize = 3;
// Where a tag list reply's EPCs start, and the bytes of its length that are not EPCs.
constexpr std::size_t kListIdsOffset = 5;
constexpr std::size_t kListLengthExtra = 4;

// The EPCs one inventory round (the short-frame tag list) reports, cut into this test's 3-byte EPCs.
std::vector<Bytes> Round(Reader& reader) {
    const std::optional<Reply> reply =
        reader.Answer(BuildShortFrame(short_command::kGetListTagId, Bytes{0x01, 0x02}));
    const std::optional<testing::ReplyView> view = reply ? testing::CheckedReply(reply->bytes) : std::nullopt;
    if (!view) {
        ADD_FAILURE() << "no tag list";
        return {};
    }
    const std::size_t idBytes = view->frame[1] - kListLengthExtra;
    std::vector<Bytes> epcs;
    for (std::size_t at = 0; at + kTestEpcSize <= idBytes; at += kTestEpcSize) {
        const auto start = view->frame.begin() + static_cast<std::ptrdiff_t>(kListIdsOffset + at);
        epcs.emplace_back(start, start + kTestEpcSize);
    }
    return epcs;
}

// The EPC and signal strength byte a tag read (kind 0: antenna, PC word, EPC, signal) reports.
std::optional<TagSighting> ReadOne(Reader& reader) {
    const testing::ReplyView reply = testing::Ask(reader, command::kReadTag);
    if (reply.status() != kStatusOk) {
        return std::nullopt;
    }
    const Bytes data = reply.data();
    return TagSighting{{data.begin() + 3, data.end() - 1}, data.back()};
}

TEST(SimScene, ParsesGoodLinesAndRefusesBadOnesByLine) {
    const struct {
        const char* text;
        std::vector<SceneStep> steps;
        const char* error;
    } cases[] = {
        {"# door\n\n0 enter E20001 rssi=200\n  15 leave e2:00:01\n15 enter E20002\n40 loop\n",
         {{0, SceneAction::kEnter, kDoor, 200},
          {15, SceneAction::kLeave, kDoor, kDefaultSignalStrength},
          {15, SceneAction::kEnter, kDesk, kDefaultSignalStrength},
          {40, SceneAction::kLoop, {}, kDefaultSignalStrength}},
         ""},
        {"", {}, ""},
        {"0 enter E20001 rssi=0\n", {{0, SceneAction::kEnter, kDoor, 0}}, ""},
        {"# first\n-5 enter E20001\n", {}, "door.scene:2: expected a time in milliseconds, got -5"},
        {"5ms enter E20001\n", {}, "door.scene:1: expected a time in milliseconds, got 5ms"},
        {"5\n", {}, "door.scene:1: expected enter, leave or loop after the time"},
        {"5 arrive E20001\n", {}, "door.scene:1: expected enter, leave or loop, got arrive"},
        {"5 enter\n", {}, "door.scene:1: expected an EPC after enter"},
        {"5 leave E2001\n", {}, "door.scene:1: expected an EPC of 1 to 52 bytes of hex, got E2001"},
        {"5 enter E20001 rssi=256\n", {}, "door.scene:1: expected rssi=N with N from 0 to 255, got rssi=256"},
        {"5 enter E20001 strength=9\n",
         {},
         "door.scene:1: expected rssi=N with N from 0 to 255, got strength=9"},
        {"5 leave E20001 rssi=9\n", {}, "door.scene:1: unexpected rssi=9"},
        {"5 loop now\n", {}, "door.scene:1: unexpected now"},
        {"0 loop\n", {}, "door.scene:1: a loop at time 0 would never end"},
        {"10 enter E20001\n\n5 leave E20001\n", {}, "door.scene:3: time 5 is before the previous line's 10"},
        {"10 loop\n20 enter E20001\n", {}, "door.scene:2: nothing may follow the loop"},
    };
    for (const auto& entry : cases) {
        const SceneText scene = ParseScene(entry.text, "door.scene");
        EXPECT_EQ(scene.error, entry.error) << entry.text;
        EXPECT_EQ(scene.steps, entry.steps) << entry.text;
    }
}

TEST(SimScene, InventoryRoundsReportTheTagsPresentAtEachMomentInSimulatedTime) {
    const SceneText scene =
        ParseScene("10 enter E20001 rssi=200\n20 enter E20002\n30 leave E20001\n50 loop\n", "door.scene");
    ASSERT_EQ(scene.error, "");
    Reader reader;
    const Bytes staying{0xAA};
    ASSERT_TRUE(reader.AddTag(staying));  // a tag from --tag: the scene leaves it alone
    ScenePlayer player(reader, scene.steps);
    const struct {
        int64_t atMs;
        std::vector<Bytes> present;  // the scene's tags in the field
        std::optional<int64_t> nextDueMs;
    } moments[] = {
        {-5, {}, 10},
        {0, {}, 10},
        {9, {}, 10},
        {10, {kDoor}, 20},
        {25, {kDoor, kDesk}, 30},
        {30, {kDesk}, 50},
        {49, {kDesk}, 50},
        {50, {}, 60},
        {60, {kDoor}, 70},
        {75, {kDoor, kDesk}, 80},
        // Far ahead (a shared time 0 long past): the passes between are not played one by one.
        {50'000'000'015, {kDoor}, 50'000'000'020},
    };
    for (const auto& moment : moments) {
        player.AdvanceTo(moment.atMs);
        std::vector<Bytes> expected = moment.present;
        expected.insert(expected.begin(), staying);
        std::vector<Bytes> field = reader.tags();
        EXPECT_EQ(field, expected) << moment.atMs;
        EXPECT_EQ(player.NextDueMs(), moment.nextDueMs) << moment.atMs;
    }
    // The signal strength of the scene reaches the tag read reply; --tag's tag keeps the default.
    reader.ClearTags();
    ScenePlayer door(reader, scene.steps);
    door.AdvanceTo(10);
    EXPECT_EQ(ReadOne(reader), (TagSighting{kDoor, 200}));
    door.AdvanceTo(20);
    EXPECT_EQ(Round(reader), (std::vector<Bytes>{kDoor, kDesk}));
}

TEST(SimScene, ReplayReportsEachRecordedReadOnceAtItsSpacing) {
    const std::string recording =
        "{\"event\":\"link-up\",\"reader\":\"000000000000000000000002\",\"seq\":1,"
        "\"time\":\"2026-12-09T22:00:00.000Z\",\"error\":null}\n"
        "{\"event\":\"read\",\"reader\":\"000000000000000000000002\",\"seq\":2,"
        "\"time\":\"2026-12-09T22:00:01.250Z\",\"epc\":\"e20001\",\"card\":null,\"count\":1,"
        "\"first_seen\":\"2026-12-09T22:00:01.250Z\",\"antenna\":1,\"rssi\":180}\n"
        "\n"
        "{\"event\":\"read\",\"reader\":\"00000000000000000000000A\",\"seq\":3,"
        "\"time\":\"2026-12-09T22:00:01.300Z\",\"epc\":\"e20002\",\"rssi\":null}\n"
        "{\"event\":\"read\",\"reader\":\"000000000000000000000002\",\"seq\":4,"
        "\"time\":\"2026-12-09T22:00:02.000Z\",\"epc\":\"e20002\",\"rssi\":null}\n";
    const SceneText two = ParseReplay(recording, "site.jsonl", std::string("000000000000000000000002"));
    ASSERT_EQ(two.error, "");
    EXPECT_EQ(two.steps,
              (std::vector<SceneStep>{{0, SceneAction::kSeeOnce, kDoor, 180},
                                      {750, SceneAction::kSeeOnce, kDesk, kDefaultSignalStrength}}));
    const SceneText ten = ParseReplay(recording, "site.jsonl", std::string("00000000000000000000000a"));
    EXPECT_EQ(ten.steps, (std::vector<SceneStep>{{0, SceneAction::kSeeOnce, kDesk, kDefaultSignalStrength}}));

    const struct {
        std::string text;
        std::optional<std::string> reader;
        const char* error;
    } refusals[] = {
        {recording, std::nullopt,
         "site.jsonl:4: a read of reader 00000000000000000000000A among those of 000000000000000000000002: "
         "choose one with --serial"},
        {"zendrik: no reader\n", std::nullopt, "site.jsonl:1: not an event's JSON object"},
        {"{\"event\":\"read\",\"time\":\"2026-12-09T22:00:01.250Z\",\"epc\":\"e20001\"}", std::nullopt,
         "site.jsonl:1: a read without its reader"},
        {"{\"event\":\"read\",\"reader\":\"2\",\"time\":\"22:00:01\",\"epc\":\"e20001\"}", std::nullopt,
         "site.jsonl:1: a read without a time such as 2026-12-09T22:08:56.123Z"},
        {"{\"event\":\"read\",\"reader\":\"2\",\"time\":\"2026-12-09T22:00:01.250Z\",\"epc\":\"e2001\"}",
         std::nullopt, "site.jsonl:1: a read without an EPC of 1 to 52 bytes of hex"},
        {"{\"event\":\"read\",\"reader\":\"2\",\"time\":\"2026-12-09T22:00:01.250Z\",\"epc\":\"e20001\"}\n"
         "{\"event\":\"read\",\"reader\":\"2\",\"time\":\"2026-12-09T22:00:01.249Z\",\"epc\":\"e20001\"}",
         std::nullopt, "site.jsonl:2: a read earlier than the one before it"},
        {recording, std::string("000000000000000000000003"),
         "site.jsonl: no reads of reader 000000000000000000000003"},
    };
    for (const auto& refusal : refusals) {
        const SceneText replay = ParseReplay(refusal.text, "site.jsonl", refusal.reader);
        EXPECT_EQ(replay.error, refusal.error) << refusal.text;
        EXPECT_TRUE(replay.steps.empty()) << refusal.text;
    }

    // Played in simulated time: each read is reported by one inventory round, then no more.
    Reader reader;
    ScenePlayer player(reader, two.steps);
    player.AdvanceTo(0);
    EXPECT_EQ(ReadOne(reader), (TagSighting{kDoor, 180}));
    EXPECT_EQ(ReadOne(reader), std::nullopt);
    player.AdvanceTo(749);
    EXPECT_TRUE(Round(reader).empty());
    player.AdvanceTo(750);
    EXPECT_EQ(Round(reader), std::vector<Bytes>{kDesk});
    EXPECT_TRUE(Round(reader).empty());
    EXPECT_EQ(player.NextDueMs(), std::nullopt);
}

}  // namespace
}  // namespace zendrik::sim
