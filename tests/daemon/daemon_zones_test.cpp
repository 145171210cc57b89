// zendrikd with zones and doors, virtual readers playing one scene in step and a mosquitto of the
// test's own: tags carried through a door in and out, one turning back, one tag before both readers
// of a zone, one moving from zone to zone, and the daemon restarted in the middle of the scene.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "base/time_text.h"
#include "tests/daemon/broker.h"
#include "tests/daemon/http_client.h"
#include "tests/daemon/sim_harness.h"
#include "tests/support/loopback.h"

namespace zendrik::testing {
namespace {

using Messages = std::vector<Message>;

// Time for the daemon to be ready before the scene's time 0, and how long its second part waits.
constexpr std::chrono::milliseconds kLead{2500};
constexpr std::chrono::seconds kSceneWait{25};

constexpr const char* kBoth = "e20000000000000000000001";  // before both readers of the dock
constexpr const char* kIn = "e20000000000000000000002";    // through the door, in
constexpr const char* kOut = "e20000000000000000000003";   // through the door, out
constexpr const char* kBack = "e20000000000000000000004";  // into the door and back out
constexpr const char* kLate = "e20000000000000000000005";  // out, after the restart
constexpr const char* kMove = "e20000000000000000000006";  // from the dock to the store

// Each reader's field: "MS enter EPC" / "MS leave EPC" after the scene's time 0. The door has the
// yard outside and the dock's left reader inside; the dock has a left and a right reader.
const std::map<std::string, std::vector<std::string>> kScenes{
    {"left",
     {"0 enter " + std::string(kBoth), "1000 enter " + std::string(kIn), "1500 leave " + std::string(kBoth),
      "1700 leave " + std::string(kIn), "2500 enter " + std::string(kOut), "3100 leave " + std::string(kOut),
      "8400 enter " + std::string(kBack), "8800 leave " + std::string(kBack),
      "9500 enter " + std::string(kLate), "10000 leave " + std::string(kLate)}},
    {"right",
     {"0 enter " + std::string(kBoth), "1500 leave " + std::string(kBoth),
      "11000 enter " + std::string(kMove), "12000 leave " + std::string(kMove)}},
    {"yard",
     {"500 enter " + std::string(kIn), "1200 leave " + std::string(kIn), "2900 enter " + std::string(kOut),
      "3600 leave " + std::string(kOut), "8000 enter " + std::string(kBack),
      "8600 leave " + std::string(kBack), "8700 enter " + std::string(kBack),
      "9300 leave " + std::string(kBack), "9800 enter " + std::string(kLate),
      "10400 leave " + std::string(kLate)}},
    {"store", {"11800 enter " + std::string(kMove), "13500 leave " + std::string(kMove)}},
};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Config(uint16_t port, uint16_t httpPort, const TemporaryDirectory& directory,
                   const std::map<std::string, std::string>& addresses) {
    std::string text = "site = \"t\"\n[mqtt]\nport = " + std::to_string(port) +
                       "\ntopic_prefix = \"zt\"\nreconnect_max_ms = 300\n[spool]\npath = \"" +
                       directory.File("spool.sqlite") +
                       "\"\n[http]\nlisten = \"127.0.0.1:" + std::to_string(httpPort) + "\"\n";
    for (const auto& [name, address] : addresses) {
        text += "[[reader]]\nname = \"" + name + "\"\naddress = \"" + address + "\"\n";
    }
    text +=
        "[[zone]]\nname = \"dock\"\nreaders = [\"left\", \"right\"]\nabsence_ms = 1000\n"
        "[[zone]]\nname = \"store\"\nreaders = [\"store\"]\nabsence_ms = 1000\n"
        "[[door]]\nname = \"door-3\"\noutside = [\"yard\"]\ninside = [\"left\"]\nsettle_ms = 600\n";
    const std::string path = directory.File("zendrikd.toml");
    std::ofstream(path) << text;
    return path;
}

// The messages of one topic, each number once (QoS 1 may bring one twice), in order of arrival.
std::vector<nlohmann::json> Stream(const Messages& messages, const std::string& topic) {
    std::vector<nlohmann::json> stream;
    std::set<uint64_t> seen;
    for (const Message& message : messages) {
        if (message.topic != topic) {
            continue;
        }
        nlohmann::json json = nlohmann::json::parse(message.payload);
        if (seen.insert(json["seq"].get<uint64_t>()).second) {
            stream.push_back(std::move(json));
        }
    }
    return stream;
}

std::vector<nlohmann::json> Of(const std::vector<nlohmann::json>& stream, const std::string& epc) {
    std::vector<nlohmann::json> picked;
    for (const nlohmann::json& json : stream) {
        if (json["epc"] == epc) {
            picked.push_back(json);
        }
    }
    return picked;
}

bool Has(const Messages& messages, const std::string& topic, const std::string& epc,
         const std::string& event) {
    for (const nlohmann::json& json : Of(Stream(messages, topic), epc)) {
        if (json["event"] == event) {
            return true;
        }
    }
    return false;
}

uint64_t HighestSeq(const std::vector<nlohmann::json>& stream) {
    uint64_t highest = 0;
    for (const nlohmann::json& json : stream) {
        highest = std::max(highest, json["seq"].get<uint64_t>());
    }
    return highest;
}

void ExpectNumberedFromOneWithoutGap(const std::vector<nlohmann::json>& stream) {
    std::set<uint64_t> seqs;
    for (const nlohmann::json& json : stream) {
        seqs.insert(json["seq"].get<uint64_t>());
    }
    ASSERT_FALSE(seqs.empty());
    EXPECT_EQ(*seqs.begin(), 1u);
    EXPECT_EQ(*seqs.rbegin(), seqs.size()) << "numbers are missing";
}

int64_t Ms(const nlohmann::json& time) {
    return base::ParseUtcText(time.get<std::string>()).value_or(0);
}

TEST(DaemonZonesTest, FollowsTagsThroughDoorsAndZonesAcrossARestart) {
    Broker broker;
    TemporaryDirectory directory;
    const int64_t epochMs = NowMs() + kLead.count();
    std::vector<std::unique_ptr<VirtualReader>> readers;
    std::map<std::string, std::string> addresses;
    int serial = 0;
    for (const auto& [name, lines] : kScenes) {
        const std::string scene = directory.File(name + ".scene");
        std::ofstream file(scene);
        for (const std::string& line : lines) {
            file << line << '\n';
        }
        file.close();
        readers.push_back(std::make_unique<VirtualReader>(
            directory, name, std::to_string(++serial), std::vector<std::string>{},
            std::vector<std::string>{"--scene", scene, "--scene-epoch", std::to_string(epochMs)}));
        addresses[name] = readers.back()->address();
    }
    const uint16_t httpPort = FreePort();
    const std::string config = Config(broker.port(), httpPort, directory, addresses);
    Subscriber consumer(broker.port(), "zt/t/#", "consumer");
    const std::string dock = "zt/t/zones/dock/events";
    const std::string store = "zt/t/zones/store/events";
    const std::string door = "zt/t/doors/door-3/passages";
    // The daemon runs until `done` holds for what arrived, then stops; `meanwhile` asks what it
    // answers over HTTP while it runs.
    const auto runUntil = [&](const std::function<bool(const Messages&)>& done,
                              const std::function<void()>& meanwhile = {}) {
        Zendrikd daemon(config, directory);
        ASSERT_TRUE(daemon.Ready()) << daemon.log();
        if (meanwhile) {
            meanwhile();
        }
        ASSERT_TRUE(consumer.WaitFor(done, kSceneWait)) << daemon.log();
        EXPECT_EQ(daemon.process().Stop(), 0) << daemon.log();
    };
    const auto get = [&](const std::string& path) { return HttpConnection(httpPort).Request("GET", path); };
    runUntil(
        [&](const Messages& m) { return Has(m, door, kOut, "passage") && Has(m, dock, kOut, "zone-left"); });
    ASSERT_FALSE(HasFatalFailure());
    const uint64_t dockBeforeRestart = HighestSeq(Stream(consumer.messages(), dock));
    ASSERT_LT(NowMs(), epochMs + 8000) << "the restart must come before the scene goes on";
    // While the moving tag is in the store, the REST API says so; the counts start with the run.
    const auto askWhileInStore = [&] {
        EventStreamClient storeStream(httpPort, "/api/v1/events?zone=store", {});
        EXPECT_EQ(get("/api/v1/events?door=door-9").status, 404);
        ASSERT_TRUE(consumer.WaitFor([&](const Messages& m) { return Has(m, store, kMove, "zone-entered"); },
                                     kSceneWait));
        ASSERT_TRUE(storeStream.WaitFor([](const EventStreamClient& client) {
            return !client.frames().empty() && client.frames().front().event == "zone-entered";
        }));
        EXPECT_EQ(storeStream.frames().front().id, "zones/store:1");
        const nlohmann::json zones = nlohmann::json::parse(get("/api/v1/zones").body);
        EXPECT_EQ(zones, nlohmann::json::parse(R"([{"name":"dock","readers":["left","right"],"tags":0},)"
                                               R"({"name":"store","readers":["store"],"tags":1}])"));
        EXPECT_EQ(nlohmann::json::parse(get("/api/v1/site").body)["doors"],
                  nlohmann::json::array({"door-3"}));
        nlohmann::json tags = nlohmann::json::parse(get("/api/v1/zones/store/tags").body);
        ASSERT_EQ(tags["tags"].size(), 1u);
        EXPECT_EQ(tags["tags"][0]["epc"], kMove);
        EXPECT_EQ(tags["tags"][0]["last_reader"], "store");
        const std::string metrics = get("/metrics").body;
        EXPECT_NE(metrics.find("zendrik_zone_tags{zone=\"store\"} 1"), std::string::npos) << metrics;
        EXPECT_NE(metrics.find("zendrik_passages_total{door=\"door-3\",direction=\"out\"} 1"),
                  std::string::npos)
            << metrics;
        EXPECT_NE(metrics.find("zendrik_passages_total{door=\"door-3\",direction=\"in\"} 0"),
                  std::string::npos);
        EXPECT_NE(metrics.find("zendrik_history_rows "), std::string::npos);
        // The history keeps what came before the restart: the tag that went in, in upper case.
        std::string upper = kIn;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        const HttpReply inReply = get("/api/v1/tags/" + upper);
        nlohmann::json in = nlohmann::json::parse(inReply.body);
        ASSERT_EQ(inReply.status, 200) << inReply.body;
        EXPECT_EQ(in["epc"], kIn);
        EXPECT_TRUE(in["zone"].is_null());
        ASSERT_EQ(in["visits"].size(), 1u) << in;
        EXPECT_EQ(in["visits"][0]["zone"], "dock");
        EXPECT_EQ(in["visits"][0]["readers"], nlohmann::json::parse(R"(["left"])"));
        ASSERT_EQ(in["passages"].size(), 1u);
        EXPECT_EQ(in["passages"][0]["direction"], "in");
        const HttpReply movingReply = get("/api/v1/tags/" + std::string(kMove));
        ASSERT_EQ(movingReply.status, 200) << movingReply.body;
        nlohmann::json moving = nlohmann::json::parse(movingReply.body);
        EXPECT_EQ(moving["zone"], "store");
        EXPECT_EQ(moving["last_reader"], "store");
        ASSERT_EQ(moving["visits"].size(), 1u) << "its visit of the dock ended with the move";
        EXPECT_EQ(moving["visits"][0]["readers"], nlohmann::json::parse(R"(["right"])"));
        EXPECT_EQ(get("/api/v1/tags/e2zz").status, 400);
        EXPECT_EQ(get("/api/v1/tags/e2ff").status, 404);
        // Passages newest first, a page at a time.
        const nlohmann::json first =
            nlohmann::json::parse(get("/api/v1/passages?direction=out&limit=1").body);
        ASSERT_EQ(first["passages"].size(), 1u);
        EXPECT_EQ(first["passages"][0]["epc"], kLate);
        nlohmann::json second = nlohmann::json::parse(
            get("/api/v1/passages?direction=out&limit=1&before=" + first["next"].dump()).body);
        ASSERT_EQ(second["passages"].size(), 1u);
        EXPECT_EQ(second["passages"][0]["epc"], kOut);
        EXPECT_EQ(nlohmann::json::parse(get("/api/v1/passages?door=door-3").body)["passages"].size(), 3u);
        EXPECT_EQ(get("/api/v1/passages?direction=up").status, 400);
    };
    runUntil(
        [&](const Messages& m) {
            return Has(m, store, kMove, "zone-left") && Has(m, door, kLate, "passage");
        },
        askWhileInStore);
    ASSERT_FALSE(HasFatalFailure());

    const Messages messages = consumer.messages();
    // Through the door: in, out, none for turning back, and out again after the restart.
    const auto passages = Stream(messages, door);
    ASSERT_EQ(passages.size(), 3u) << "one passage for each tag that went through, none for " << kBack;
    EXPECT_EQ(passages[0]["epc"], kIn);
    EXPECT_EQ(passages[0]["direction"], "in");
    EXPECT_LT(Ms(passages[0]["outside_at"]), Ms(passages[0]["inside_at"]));
    EXPECT_EQ(passages[1]["epc"], kOut);
    EXPECT_EQ(passages[1]["direction"], "out");
    EXPECT_LT(Ms(passages[1]["inside_at"]), Ms(passages[1]["outside_at"]));
    EXPECT_EQ(passages[2]["epc"], kLate);
    EXPECT_EQ(passages[2]["direction"], "out");
    for (const nlohmann::json& passage : passages) {
        EXPECT_EQ(passage["door"], "door-3");
        EXPECT_TRUE(passage.contains("card"));
        EXPECT_GE(Ms(passage["time"]), std::max(Ms(passage["outside_at"]), Ms(passage["inside_at"])));
    }
    ExpectNumberedFromOneWithoutGap(passages);

    // Before both readers of the dock: one entered, one left, with its reads and its time there.
    const auto dockEvents = Stream(messages, dock);
    const auto both = Of(dockEvents, kBoth);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0]["event"], "zone-entered");
    EXPECT_EQ(both[1]["event"], "zone-left");
    EXPECT_EQ(both[1]["reason"], "absent");
    EXPECT_GT(both[1]["reads"].get<uint64_t>(), 10u);
    EXPECT_GT(both[1]["dwell_ms"].get<int64_t>(), 1000);
    EXPECT_EQ(both[1]["zone"], "dock");
    // From the dock to the store: left (moved) and entered (from).
    const auto moveInDock = Of(dockEvents, kMove);
    ASSERT_EQ(moveInDock.size(), 2u);
    EXPECT_EQ(moveInDock[1]["event"], "zone-left");
    EXPECT_EQ(moveInDock[1]["reason"], "moved");
    EXPECT_EQ(moveInDock[1]["to"], "store");
    EXPECT_EQ(moveInDock[1]["reader"], "right");
    const auto moveInStore = Of(Stream(messages, store), kMove);
    ASSERT_EQ(moveInStore.size(), 2u);
    EXPECT_EQ(moveInStore[0]["event"], "zone-entered");
    EXPECT_EQ(moveInStore[0]["from"], "dock");
    EXPECT_EQ(moveInStore[0]["reader"], "store");
    EXPECT_EQ(moveInStore[1]["reason"], "absent");
    // Every tag the dock saw came and went once; its numbers went on across the restart.
    for (const char* epc : {kIn, kOut, kBack, kLate}) {
        SCOPED_TRACE(epc);
        const auto visit = Of(dockEvents, epc);
        ASSERT_EQ(visit.size(), 2u);
        EXPECT_EQ(visit[0]["event"], "zone-entered");
        EXPECT_EQ(visit[1]["event"], "zone-left");
    }
    ExpectNumberedFromOneWithoutGap(dockEvents);
    EXPECT_EQ(dockBeforeRestart, 6u) << "both, in and out came and went before the restart";
    EXPECT_EQ(HighestSeq(dockEvents), 12u);
}

}  // namespace
}  // namespace zendrik::testing
