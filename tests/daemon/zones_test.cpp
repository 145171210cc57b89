// The zones and doors in simulated time: scenes of reads and clock steps played against where each
// tag is and what went through a door, in the words of a compact trace; their payloads against
// worked examples; and a zone's numbers kept by the spool as a reader's, told lost on its own topic.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "daemon/http/http_routes.h"
#include "daemon/http/metrics_text.h"
#include "daemon/site/history_answers.h"
#include "daemon/site/site.h"
#include "daemon/store/history.h"
#include "daemon/zones/door_passes.h"
#include "daemon/zones/place_payloads.h"
#include "daemon/zones/zone_presence.h"
#include "tests/daemon/child_process.h"

namespace zendrik::daemon {
namespace {

// A step of a scene: a read of `epc` by `reader` at `atMs`, or (reader empty) the clock brought
// to `atMs`; for doors, "end" ends every pass.
struct Step {
    int64_t atMs;
    std::string reader;
    std::string epc = "e1";
};

// A scene and the trace it must leave.
struct Scene {
    const char* what;
    std::vector<Step> steps;
    std::vector<std::string> trace;
};

std::string Trace(const ZoneChange& change) {
    std::string text = change.epc + " ";
    if (change.kind == ZoneChange::Kind::kEntered) {
        text += "entered " + change.zone + " at " + std::to_string(change.timeMs) + " by " + change.reader;
        return change.otherZone.empty() ? text : text + " from " + change.otherZone;
    }
    text += "left " + change.zone + " at " + std::to_string(change.timeMs) + " by " + change.reader +
            (change.reason == ZoneChange::Reason::kMoved ? " to " + change.otherZone : " absent") + ", " +
            std::to_string(change.reads) + " reads from " + std::to_string(change.sinceMs) + " to " +
            std::to_string(change.lastSeenMs);
    return text;
}

std::string Trace(const Passage& passage) {
    return passage.epc + (passage.in ? " in" : " out") + " at " + std::to_string(passage.timeMs) +
           ", outside " + std::to_string(passage.outsideAtMs) + ", inside " +
           std::to_string(passage.insideAtMs);
}

// Zone "dock" has two readers and forgets a tag after 3 s; "yard" has one and forgets after 2 s.
const std::vector<ZoneConfig> kZones{{"dock", {"left", "right"}, 3000, 1}, {"yard", {"gate"}, 2000, 5}};

TEST(ZonePresenceTest, EntersOnceLeavesWhenAbsentAndMovesWithoutFlapping) {
    const Scene scenes[] = {
        {"both readers of a zone: entered once, left once",
         {{0, "left"}, {100, "right"}, {500, "left"}, {900, "right"}, {3899, ""}, {3900, ""}},
         {"e1 entered dock at 0 by left", "e1 left dock at 3900 by right absent, 4 reads from 0 to 900"}},
        {"back after it left: a visit of its own",
         {{0, "gate"}, {2000, ""}, {2500, "gate"}},
         {"e1 entered yard at 0 by gate", "e1 left yard at 2000 by gate absent, 1 reads from 0 to 0",
          "e1 entered yard at 2500 by gate"}},
        {"a reader in no zone is no sighting", {{0, "porch"}, {9000, ""}}, {}},
        {"read elsewhere, moved once its zone was quiet for a second (on the clock)",
         {{0, "left"}, {200, "gate"}, {999, ""}, {1000, ""}},
         {"e1 entered dock at 0 by left", "e1 left dock at 1000 by left to yard, 1 reads from 0 to 0",
          "e1 entered yard at 1000 by gate from dock"}},
        {"read by the old zone again: the reads elsewhere before do not count",
         {{0, "left"}, {500, "gate"}, {800, "left"}, {1000, "gate"}, {1900, "gate"}, {9000, ""}},
         {"e1 entered dock at 0 by left", "e1 left dock at 1800 by left to yard, 2 reads from 0 to 800",
          "e1 entered yard at 1800 by gate from dock",
          "e1 left yard at 3900 by gate absent, 2 reads from 1000 to 1900"}},
        {"in the overlap of two fields, read by both in turn: it stays",
         {{0, "left"},
          {300, "gate"},
          {600, "right"},
          {900, "gate"},
          {1200, "left"},
          {1500, "gate"},
          {1800, "left"},
          {2700, ""}},
         {"e1 entered dock at 0 by left"}},
        {"the old zone stops reading, the new one goes on: moved after a second",
         {{0, "left"},
          {300, "gate"},
          {600, "left"},
          {900, "gate"},
          {1200, "gate"},
          {1500, "gate"},
          {1700, "gate"}},
         {"e1 entered dock at 0 by left", "e1 left dock at 1600 by left to yard, 2 reads from 0 to 600",
          "e1 entered yard at 1600 by gate from dock"}},
        {"two tags, each its own visit",
         {{0, "left", "e1"}, {10, "gate", "e2"}, {1000, "right", "e1"}, {2010, ""}, {4000, ""}},
         {"e1 entered dock at 0 by left", "e2 entered yard at 10 by gate",
          "e2 left yard at 2010 by gate absent, 1 reads from 10 to 10",
          "e1 left dock at 4000 by right absent, 2 reads from 0 to 1000"}},
        {"a read a little late in time counts at the time reached",
         {{0, "left"}, {2500, ""}, {2400, "right"}, {5499, ""}, {5500, ""}},
         {"e1 entered dock at 0 by left", "e1 left dock at 5500 by right absent, 2 reads from 0 to 2500"}},
    };
    for (const Scene& scene : scenes) {
        SCOPED_TRACE(scene.what);
        ZonePresence presence(kZones);
        std::vector<ZoneChange> changes;
        for (const Step& step : scene.steps) {
            if (step.reader.empty()) {
                presence.AdvanceTo(step.atMs, changes);
            } else {
                presence.Read(Sighting{step.reader, step.epc, "", step.atMs}, changes);
            }
        }
        std::vector<std::string> trace;
        for (const ZoneChange& change : changes) {
            trace.push_back(Trace(change));
        }
        EXPECT_EQ(trace, scene.trace);
    }
}

TEST(ZonePresenceTest, SaysWhereATagIsAndWhenTheNextChangeFallsDue) {
    ZonePresence presence(kZones);
    std::vector<ZoneChange> changes;
    EXPECT_EQ(presence.NextDueMs(), std::nullopt);
    presence.Read(Sighting{"left", "e1", "00012", 100}, changes);
    presence.Read(Sighting{"right", "e2", "", 200}, changes);
    presence.Read(Sighting{"right", "e1", "00012", 700}, changes);
    EXPECT_EQ(presence.NextDueMs(), 3200) << "e2, read last at 200, is the first to leave";
    EXPECT_EQ(presence.TagsIn("dock"), 2u);
    EXPECT_EQ(presence.TagsIn("yard"), 0u);
    const auto e1 = presence.Find("e1");
    ASSERT_TRUE(e1.has_value());
    EXPECT_EQ(e1->first, "dock");
    EXPECT_EQ(e1->second.sinceMs, 100);
    EXPECT_EQ(e1->second.lastSeenMs, 700);
    EXPECT_EQ(e1->second.lastReader, "right");
    EXPECT_EQ(e1->second.reads, 2u);
    EXPECT_EQ(presence.TagsOf("dock").size(), 2u);
    presence.Read(Sighting{"gate", "e1", "00012", 800}, changes);
    EXPECT_EQ(presence.NextDueMs(), 1700) << "e1 moves once the dock was quiet for a second";
    presence.AdvanceTo(10000, changes);
    EXPECT_EQ(presence.TagsIn("dock"), 0u);
    EXPECT_FALSE(presence.Find("e1").has_value());
    EXPECT_EQ(presence.NextDueMs(), std::nullopt);
}

TEST(DoorPassesTest, TellsInFromOutAndNothingForOneSideOrTurningBack) {
    const DoorConfig door{"door-3", {"yard"}, {"left", "right"}, 2000, 1};
    const Scene scenes[] = {
        {"outside then inside: in, once the settle time has passed with no read",
         {{0, "yard"}, {300, "yard"}, {1000, "left"}, {1500, "right"}, {3500, ""}, {3501, ""}},
         {"e1 in at 1500, outside 0, inside 1000"}},
        {"inside then outside: out",
         {{0, "right"}, {800, "yard"}, {9000, ""}},
         {"e1 out at 800, outside 800, inside 0"}},
        {"turned back", {{0, "yard"}, {500, "left"}, {1000, "yard"}, {9000, ""}}, {}},
        {"one side only", {{0, "left"}, {1000, "right"}, {9000, ""}}, {}},
        {"a reader of no side is no read of the door", {{0, "yard"}, {100, "porch"}, {9000, ""}}, {}},
        {"a gap of the settle time is still one pass",
         {{0, "yard"}, {2000, "left"}, {9000, ""}},
         {"e1 in at 2000, outside 0, inside 2000"}},
        {"a longer gap: two passes, each on one side", {{0, "yard"}, {2001, "left"}, {9000, ""}}, {}},
        {"two tags crossing each other",
         {{0, "yard", "e1"}, {0, "left", "e2"}, {500, "left", "e1"}, {600, "yard", "e2"}, {9000, ""}},
         {"e1 in at 500, outside 0, inside 500", "e2 out at 600, outside 600, inside 0"}},
        {"a pass open at a stop ends with it",
         {{0, "yard"}, {100, "left"}, {200, "end"}},
         {"e1 in at 100, outside 0, inside 100"}},
    };
    for (const Scene& scene : scenes) {
        SCOPED_TRACE(scene.what);
        DoorPasses passes(door);
        std::vector<Passage> found;
        for (const Step& step : scene.steps) {
            if (step.reader == "end") {
                passes.EndAll(found);
            } else if (step.reader.empty()) {
                passes.AdvanceTo(step.atMs, found);
            } else {
                passes.Read(Sighting{step.reader, step.epc, "", step.atMs}, found);
            }
        }
        std::vector<std::string> trace;
        for (const Passage& passage : found) {
            EXPECT_EQ(passage.door, "door-3");
            trace.push_back(Trace(passage));
        }
        EXPECT_EQ(trace, scene.trace);
        EXPECT_EQ(passes.NextDueMs(), std::nullopt);
    }
}

TEST(PlacePayloadsTest, WritesTheFieldsOfEachMessage) {
    constexpr int64_t kAt = 1765324800000;  // 2025-12-10T00:00:00Z
    const ZoneChange entered{ZoneChange::Kind::kEntered, "dock", "e2003412", "00012", "left", kAt,
                             ZoneChange::Reason::kNone,  "yard", kAt,        kAt,     1};
    EXPECT_EQ(ZoneChangeJson(entered, 7),
              R"({"event":"zone-entered","zone":"dock","seq":7,"epc":"e2003412","card":"00012",)"
              R"("time":"2025-12-10T00:00:00.000Z","reader":"left","from":"yard"})");
    const ZoneChange left{ZoneChange::Kind::kLeft,     "dock", "e2003412", "",         "right", kAt + 4500,
                          ZoneChange::Reason::kAbsent, "",     kAt,        kAt + 1500, 9};
    EXPECT_EQ(
        ZoneChangeJson(left, 8),
        R"({"event":"zone-left","zone":"dock","seq":8,"epc":"e2003412","card":null,)"
        R"("time":"2025-12-10T00:00:04.500Z","reader":"right","reason":"absent","dwell_ms":1500,"reads":9})");
    ZoneChange moved = left;
    moved.reason = ZoneChange::Reason::kMoved;
    moved.otherZone = "yard";
    EXPECT_NE(ZoneChangeJson(moved, 9).find(R"("reason":"moved","dwell_ms":1500,"reads":9,"to":"yard"})"),
              std::string::npos);
    const Passage passage{"door-3", "e2003412", "00012", false, kAt + 2000, kAt + 1500, kAt};
    EXPECT_EQ(
        PassageJson(passage, 3),
        R"({"event":"passage","door":"door-3","seq":3,"epc":"e2003412","card":"00012","direction":"out",)"
        R"("time":"2025-12-10T00:00:02.000Z","outside_at":"2025-12-10T00:00:01.500Z",)"
        R"("inside_at":"2025-12-10T00:00:00.000Z"})");
    EXPECT_EQ(PlaceOfSeqOwner(ZoneSeqOwner("dock"))->kind, "zone");
    EXPECT_EQ(PlaceOfSeqOwner(DoorSeqOwner("door-3"))->name, "door-3");
    EXPECT_FALSE(PlaceOfSeqOwner("gate-1").has_value());
}

// A zone's and a door's numbers go on across a restart, and above every number reserved when the
// spool was lost, the loss told on the zone's events and the door's passages.
TEST(PlaceSequenceTest, NumbersGoOnAcrossRestartsAndALostSpool) {
    const testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    const Topics topics("zt", "t");
    const auto store = [&](Spool& spool, const std::string& owner) {
        Spool::Burst burst = spool.Begin();
        const uint64_t seq = burst.Add(owner, "topic", [](uint64_t given) { return std::to_string(given); });
        EXPECT_TRUE(burst.Commit());
        return seq;
    };
    {
        Spool spool(path, 100, SpoolLostMessages(topics));
        EXPECT_EQ(store(spool, ZoneSeqOwner("dock")), 1u);
        EXPECT_EQ(store(spool, DoorSeqOwner("door-3")), 1u);
        EXPECT_EQ(store(spool, ZoneSeqOwner("dock")), 2u);
    }
    {
        Spool spool(path, 100, SpoolLostMessages(topics));
        EXPECT_EQ(store(spool, ZoneSeqOwner("dock")), 3u);
    }
    std::filesystem::remove(path);
    Spool spool(path, 100, SpoolLostMessages(topics));
    std::vector<SpooledMessage> told = spool.HandOver(10);
    ASSERT_EQ(told.size(), 2u);
    std::map<std::string, std::string> payloadOf;
    for (const SpooledMessage& message : told) {
        payloadOf[message.topic] = message.payload;
    }
    ASSERT_EQ(payloadOf.count("zt/t/zones/dock/events"), 1u);
    ASSERT_EQ(payloadOf.count("zt/t/doors/door-3/passages"), 1u);
    EXPECT_NE(payloadOf["zt/t/zones/dock/events"].find(R"("event":"spool-lost","zone":"dock")"),
              std::string::npos);
    EXPECT_NE(payloadOf["zt/t/doors/door-3/passages"].find(R"("door":"door-3")"), std::string::npos);
    const uint64_t next = store(spool, ZoneSeqOwner("dock"));
    EXPECT_GT(next, 3u + 1u) << "above every number that may have been published";
}

// GET /api/v1/zones and /api/v1/zones/ZONE/tags, and the metrics of zones and doors.
TEST(PlaceAnswersTest, ZonesTheirTagsAndMetrics) {
    SiteSnapshot site;
    site.zones.push_back(ZoneSnapshot{"dock",
                                      {"left", "right"},
                                      {{"e1", "00012", 1765324800000, 1765324801500, "right", 4},
                                       {"e2", "", 1765324801000, 1765324801000, "left", 1}}});
    site.zones.push_back(ZoneSnapshot{"yard", {"gate"}, {}});
    site.doors.push_back(DoorSnapshot{"door-3", 5, 2});
    EXPECT_EQ(RouteOf("GET", "/api/v1/zones").kind, RouteKind::kZones);
    const Route tags = RouteOf("GET", "/api/v1/zones/dock/tags");
    EXPECT_EQ(tags.kind, RouteKind::kZoneTags);
    EXPECT_EQ(tags.reader, "dock");
    EXPECT_EQ(RouteOf("POST", "/api/v1/zones").kind, RouteKind::kWrongMethod);
    EXPECT_EQ(
        SnapshotAnswer(RouteOf("GET", "/api/v1/zones"), site).body,
        R"([{"name":"dock","readers":["left","right"],"tags":2},{"name":"yard","readers":["gate"],"tags":0}])");
    EXPECT_EQ(
        SnapshotAnswer(tags, site).body,
        R"({"zone":"dock","tags":[{"epc":"e1","card":"00012","since":"2025-12-10T00:00:00.000Z",)"
        R"("last_seen":"2025-12-10T00:00:01.500Z","last_reader":"right","reads":4},)"
        R"({"epc":"e2","card":null,"since":"2025-12-10T00:00:01.000Z","last_seen":"2025-12-10T00:00:01.000Z",)"
        R"("last_reader":"left","reads":1}]})");
    EXPECT_EQ(SnapshotAnswer(RouteOf("GET", "/api/v1/zones/hall/tags"), site).status, 404u);
    const std::string metrics = MetricsText(site);
    EXPECT_NE(metrics.find("zendrik_zone_tags{zone=\"dock\"} 2\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("zendrik_zone_tags{zone=\"yard\"} 0\n"), std::string::npos);
    EXPECT_NE(metrics.find("zendrik_passages_total{door=\"door-3\",direction=\"in\"} 5\n"),
              std::string::npos);
    EXPECT_NE(metrics.find("zendrik_passages_total{door=\"door-3\",direction=\"out\"} 2\n"),
              std::string::npos);
    EXPECT_EQ(MetricsText(SiteSnapshot{}).find("zendrik_zone_tags"), std::string::npos)
        << "a site without zones has no such family";
}

// The history: a tag's visits and passages newest first, passages filtered and paged, and what is
// older than the kept days or beyond the size dropped and counted.
TEST(HistoryTest, KeepsVisitsAndPassagesWithinItsDaysAndSize) {
    constexpr int64_t kDay = 24 * 3600 * 1000;
    constexpr int64_t kNow = 1765324800000;
    const testing::TemporaryDirectory directory;
    const std::string path = directory.File("history.sqlite");
    const VisitRecord old{"e1",   "7", "dock",  kNow - 3 * kDay, kNow - 3 * kDay + 5, kNow - 3 * kDay + 4,
                          "left", 2,   {"left"}};
    const VisitRecord recent{"e1",      "7",    "yard", kNow - 60,        kNow - 10,
                             kNow - 20, "gate", 9,      {"gate", "porch"}};
    const VisitRecord other{"e2", "", "dock", kNow - 50, kNow - 5, kNow - 6, "right", 1, {"right"}};
    std::vector<PassageRecord> passages;
    for (int i = 0; i < 5; ++i) {
        passages.push_back(PassageRecord{0, i == 4 ? "e2" : "e1", "7", i % 2 == 0 ? "door-3" : "door-4",
                                         i % 2 == 0 ? "in" : "out", kNow - 100 + i, kNow - 110 + i,
                                         kNow - 105 + i});
    }
    {
        History history(path, 30, 64 * 1024 * 1024);
        history.Write({old, recent, other}, passages, kNow);
        EXPECT_EQ(history.rows(), 8u);
        EXPECT_EQ(history.Visits("e1", 50), (std::vector<VisitRecord>{recent, old})) << "newest first";
        EXPECT_EQ(history.Visits("e1", 1).size(), 1u);
        PassageQuery ofE1;
        ofE1.epc = "e1";
        const auto e1 = history.Passages(ofE1);
        ASSERT_EQ(e1.size(), 4u);
        EXPECT_EQ(e1.front().timeMs, kNow - 97) << "newest first";
        PassageQuery page;
        page.door = "door-3";
        page.direction = "in";
        page.limit = 2;
        const auto first = history.Passages(page);
        ASSERT_EQ(first.size(), 2u);
        page.beforeId = first.back().id;
        const auto second = history.Passages(page);
        ASSERT_EQ(second.size(), 1u);
        EXPECT_EQ(second[0].timeMs, kNow - 100);
        PassageQuery window;
        window.sinceMs = kNow - 99;
        window.untilMs = kNow - 97;
        EXPECT_EQ(history.Passages(window).size(), 2u) << "since is in, until is out";
    }
    History again(path, 2, 64 * 1024 * 1024);
    EXPECT_EQ(again.rows(), 8u) << "kept across a restart";
    again.Write({}, {}, kNow);
    EXPECT_EQ(again.rows(), 7u) << "the visit of three days ago is past the two days kept";
    EXPECT_EQ(again.dropped(), 1u);
    History small(directory.File("small.sqlite"), 30, 64 * 1024);
    std::vector<VisitRecord> many(2000, recent);
    small.Write(many, {}, kNow);
    EXPECT_LT(small.rows(), 2000u);
    EXPECT_EQ(small.rows() + small.dropped(), 2000u) << "what went for the size is counted";
}

TEST(HistoryAnswersTest, TagsAndPassagesAskedAndRefused) {
    EXPECT_EQ(EpcOfPath("E2003412ab"), "e2003412ab");
    for (const char* bad : {"", "e20", "e2zz", "e2/0", std::string(130, 'a').c_str()}) {
        EXPECT_EQ(EpcOfPath(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(TagAnswer("e1", std::nullopt, {}, {}).status, 404u);
    const VisitRecord visit{"e1",          "7",    "dock", 1765324800000, 1765324805000,
                            1765324804000, "left", 3,      {"left"}};
    const PassageRecord passage{4, "e1", "7", "door-3", "in", 1765324801000, 1765324800500, 1765324800900};
    EXPECT_EQ(
        TagAnswer("e1", std::nullopt, {visit}, {passage}).body,
        R"({"epc":"e1","card":"7","zone":null,"since":null,"last_seen":"2025-12-10T00:00:04.000Z",)"
        R"("last_reader":"left","visits":[{"zone":"dock","entered":"2025-12-10T00:00:00.000Z",)"
        R"("left":"2025-12-10T00:00:05.000Z","reads":3,"readers":["left"]}],"passages":[{"door":"door-3",)"
        R"("epc":"e1","card":"7","direction":"in","time":"2025-12-10T00:00:01.000Z",)"
        R"("outside_at":"2025-12-10T00:00:00.500Z","inside_at":"2025-12-10T00:00:00.900Z"}]})");
    const ZoneTag here{"e1", "7", 1765324810000, 1765324811000, "right", 2};
    const std::string now = TagAnswer("e1", std::make_pair(std::string("yard"), here), {visit}, {}).body;
    EXPECT_NE(
        now.find(R"("zone":"yard","since":"2025-12-10T00:00:10.000Z","last_seen":"2025-12-10T00:00:11.000Z",)"
                 R"("last_reader":"right")"),
        std::string::npos)
        << now;
    struct Asked {
        std::map<std::string, std::string> arguments;
        bool refused;
    };
    const Asked asked[] = {
        {{{"door", "door-3"}, {"direction", "out"}, {"limit", "500"}, {"before", "9"}}, false},
        {{{"since", "2025-12-10T00:00:00Z"}, {"until", "1765324900000"}}, false},
        {{{"direction", "sideways"}}, true},
        {{{"limit", "0"}}, true},
        {{{"limit", "501"}}, true},
        {{{"before", "x"}}, true},
        {{{"since", "yesterday"}}, true},
    };
    for (const Asked& ask : asked) {
        const auto query = PassageQueryOf(ask.arguments);
        EXPECT_EQ(std::holds_alternative<HttpAnswer>(query), ask.refused);
        if (const auto* refusal = std::get_if<HttpAnswer>(&query)) {
            EXPECT_EQ(refusal->status, 400u);
        }
    }
    const auto query = std::get<PassageQuery>(PassageQueryOf(asked[1].arguments));
    EXPECT_EQ(query.sinceMs, 1765324800000);
    EXPECT_EQ(query.untilMs, 1765324900000);
    EXPECT_EQ(query.limit, kHistoryAnswerLimit);
    EXPECT_NE(PassagesAnswer({passage}, 1).body.find(R"("next":4)"), std::string::npos);
    EXPECT_NE(PassagesAnswer({passage}, 2).body.find(R"("next":null)"), std::string::npos);
}

}  // namespace
}  // namespace zendrik::daemon
