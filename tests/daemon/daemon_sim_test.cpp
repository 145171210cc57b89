// zendrikd as a program, with virtual readers and a mosquitto of the test's own: killed with
// SIGKILL (the broker publishes its last will) and started again with the sequence going on
// without a gap, also across a broker restart; a reader unplugged and back, with the systemd watchdog pinged;
// the configuration read again on SIGHUP, "offline" statuses after SIGTERM and the statuses of
// removed readers cleared; a start with many silent readers, and SIGTERM during it; its HTTP side
// with Prometheus scraping it; and its command line with good and bad files.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "base/time_text.h"
#include "tests/daemon/broker.h"
#include "tests/daemon/child_process.h"
#include "tests/daemon/http_client.h"
#include "tests/daemon/notify_socket.h"
#include "tests/daemon/silent_udp.h"
#include "tests/daemon/sim_harness.h"
#include "tests/support/loopback.h"

namespace zendrik::testing {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<Message>;

// The daemon's configuration, with the lines of its [http] table: by default no HTTP server, as
// tests side by side would share the default port.
std::string Config(uint16_t port, const TemporaryDirectory& directory,
                   const std::vector<std::pair<std::string, std::string>>& readers,
                   const std::string& http = "listen = \"\"\n", int statusIntervalMs = 300) {
    std::string text = "site = \"t\"\nstatus_interval_ms = " + std::to_string(statusIntervalMs) +
                       "\n[mqtt]\nport = " + std::to_string(port) +
                       "\ntopic_prefix = \"zt\"\nreconnect_max_ms = 300\n[spool]\npath = \"" +
                       directory.File("spool.sqlite") + "\"\n[http]\n" + http;
    for (const auto& [name, address] : readers) {
        text += "[[reader]]\nname = \"" + name + "\"\naddress = \"" + address + "\"\nabsence_ms = 500\n";
    }
    const std::string path = directory.File("zendrikd.toml");
    std::ofstream(path) << text;
    return path;
}

nlohmann::json Json(const Message& message) {
    return nlohmann::json::parse(message.payload);
}

// The sequence numbers of a reader's reads and events, in order of arrival.
std::vector<uint64_t> Seqs(const Messages& messages, const std::string& reader) {
    std::vector<uint64_t> seqs;
    for (const Message& message : messages) {
        const bool stream =
            message.topic == "zt/t/" + reader + "/reads" || message.topic == "zt/t/" + reader + "/events";
        if (stream) {
            seqs.push_back(Json(message)["seq"].get<uint64_t>());
        }
    }
    return seqs;
}

uint64_t Highest(const std::vector<uint64_t>& seqs) {
    return seqs.empty() ? 0 : *std::max_element(seqs.begin(), seqs.end());
}

// Every number from 1 to the highest is there.
void ExpectGapFree(const std::vector<uint64_t>& seqs) {
    const std::set<uint64_t> distinct(seqs.begin(), seqs.end());
    ASSERT_FALSE(distinct.empty());
    EXPECT_EQ(*distinct.begin(), 1u);
    EXPECT_EQ(distinct.size(), *distinct.rbegin()) << "numbers are missing";
}

bool HasPayload(const Messages& messages, const std::string& topic, const std::string& key,
                const std::string& value) {
    for (const Message& message : messages) {
        if (message.topic == topic && Json(message)[key] == value) {
            return true;
        }
    }
    return false;
}

std::string LastSiteState(const Messages& messages) {
    for (auto message = messages.rbegin(); message != messages.rend(); ++message) {
        if (message->topic == "zt/t/status") {
            return Json(*message)["state"];
        }
    }
    return "";
}

TEST(DaemonSimTest, KilledOrCutOffFromTheBrokerGoesOnWithoutAGap) {
    Broker broker;
    TemporaryDirectory directory;
    VirtualReader gate1(directory, "gate-1", "1");
    VirtualReader gate2(directory, "gate-2", "2");
    const std::string config =
        Config(broker.port(), directory, {{"gate-1", gate1.address()}, {"gate-2", gate2.address()}});
    Subscriber consumer(broker.port(), "zt/#", "consumer");
    uint64_t beforeKill = 0;
    {
        Zendrikd daemon(config, directory);
        ASSERT_TRUE(daemon.Ready()) << daemon.log();
        ASSERT_TRUE(consumer.WaitFor([](const Messages& m) { return Highest(Seqs(m, "gate-2")) >= 20; }))
            << daemon.log();
        daemon.process().Signal(SIGKILL);
        EXPECT_EQ(daemon.process().Wait(), 128 + SIGKILL);
        ASSERT_TRUE(consumer.WaitFor([](const Messages& m) {
            return HasPayload(m, "zt/t/status", "state", "offline");
        })) << "the broker published the last will";
        beforeKill = Highest(Seqs(consumer.messages(), "gate-2"));
    }
    Zendrikd again(config, directory);
    ASSERT_TRUE(again.Ready()) << again.log();
    ASSERT_TRUE(consumer.WaitFor([&](const Messages& m) {
        return Highest(Seqs(m, "gate-2")) >= beforeKill + 20;
    })) << again.log();
    // The broker goes away for a while in the middle of the stream: reading goes on into the
    // spool, which is sent when it is back.
    broker.Stop();
    std::this_thread::sleep_for(300ms);
    broker.Start();
    const uint64_t beforeBrokerBack = Highest(Seqs(consumer.messages(), "gate-2"));
    ASSERT_TRUE(consumer.WaitFor([&](const Messages& m) {
        return Highest(Seqs(m, "gate-2")) >= beforeBrokerBack + 40;
    })) << again.log();
    EXPECT_EQ(again.process().Stop(), 0) << again.log();
    // The daemon publishes "online" with every status round until its clean stop says "offline".
    EXPECT_TRUE(consumer.WaitFor([](const Messages& m) { return LastSiteState(m) == "offline"; }));

    const Messages messages = consumer.messages();
    for (const char* reader : {"gate-1", "gate-2"}) {
        SCOPED_TRACE(reader);
        ExpectGapFree(Seqs(messages, reader));
    }
    const auto read = std::find_if(messages.begin(), messages.end(),
                                   [](const Message& m) { return m.topic == "zt/t/gate-1/reads"; });
    ASSERT_NE(read, messages.end());
    const nlohmann::json first = Json(*read);
    EXPECT_EQ(first["event"], "read");
    EXPECT_EQ(first["reader"], "gate-1");
    EXPECT_EQ(first["epc"], kTag);
    for (const char* key : {"time", "card", "count", "first_seen", "antenna", "rssi"}) {
        EXPECT_TRUE(first.contains(key)) << key;
    }
    EXPECT_TRUE(HasPayload(messages, "zt/t/gate-2/status", "serial", "000000000000000000000002"));
    EXPECT_TRUE(HasPayload(messages, "zt/t/gate-1/status", "state", "online"));
}

TEST(DaemonSimTest, ReaderUnpluggedAndBack) {
    Broker broker;
    TemporaryDirectory directory;
    VirtualReader gate(directory, "gate", "7");
    Subscriber consumer(broker.port(), "zt/t/gate/#");
    // A watchdog of 600 ms: the loop pings every 300 to 450 ms.
    Zendrikd daemon(Config(broker.port(), directory, {{"gate", gate.address()}}), directory,
                    {{"WATCHDOG_USEC", "600000"}});
    ASSERT_TRUE(daemon.Ready()) << daemon.log();
    EXPECT_TRUE(daemon.Notified("WATCHDOG=1"));
    ASSERT_TRUE(consumer.WaitFor([](const Messages& m) { return Highest(Seqs(m, "gate")) >= 5; }));
    gate.Unplug();
    ASSERT_TRUE(consumer.WaitFor([](const Messages& m) {
        return HasPayload(m, "zt/t/gate/events", "event", "link-lost") &&
               HasPayload(m, "zt/t/gate/status", "state", "link-lost");
    })) << daemon.log();
    EXPECT_NE(daemon.log().find("reader gate (" + gate.address() + "): link lost: "), std::string::npos)
        << daemon.log();
    const std::size_t whileAway = consumer.messages().size();
    gate.Plug();
    ASSERT_TRUE(consumer.WaitFor(
        [&](const Messages& m) {
            if (!HasPayload(m, "zt/t/gate/events", "event", "link-restored")) {
                return false;
            }
            // Reads again after the link came back, and the status says so.
            return HasPayload(Messages(m.begin() + static_cast<std::ptrdiff_t>(whileAway), m.end()),
                              "zt/t/gate/status", "state", "online") &&
                   m.back().topic == "zt/t/gate/reads";
        },
        15s))
        << daemon.log();
    EXPECT_NE(daemon.log().find("reader gate (" + gate.address() + "): link restored"), std::string::npos);
    daemon.process().Signal(SIGTERM);
    EXPECT_TRUE(daemon.Notified("STOPPING=1"));
    EXPECT_EQ(daemon.process().Wait(), 0);
    ExpectGapFree(Seqs(consumer.messages(), "gate"));
}

// The latest message on a reader's status topic, or nothing.
std::optional<Message> LastStatus(const Messages& messages, const std::string& reader) {
    std::optional<Message> last;
    for (const Message& message : messages) {
        if (message.topic == "zt/t/" + reader + "/status") {
            last = message;
        }
    }
    return last;
}

bool StatusIs(const Messages& messages, const std::string& reader, const std::string& key,
              const std::string& value) {
    const std::optional<Message> last = LastStatus(messages, reader);
    return last && !last->payload.empty() && Json(*last)[key] == value;
}

bool Cleared(const Messages& messages, const std::string& reader) {
    const std::optional<Message> last = LastStatus(messages, reader);
    return last && last->payload.empty();
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(DaemonSimTest, ReloadsOnHangUpAndLeavesStatusesOfflineOrCleared) {
    Broker broker;
    TemporaryDirectory directory;
    VirtualReader one(directory, "one", "1");
    VirtualReader two(directory, "two", "2");
    VirtualReader three(directory, "three", "3");
    VirtualReader four(directory, "four", "4");
    const std::string missingPort = "serial:" + directory.File("ttyUSB7");
    const std::string absentSocket = "usb:" + directory.File("absent.sock");
    Subscriber consumer(broker.port(), "zt/#", "consumer");
    const std::string config = Config(
        broker.port(), directory,
        {{"keep", one.address()}, {"swap", two.address()}, {"gone", three.address()}, {"dock", missingPort}});
    Zendrikd daemon(config, directory);
    ASSERT_TRUE(daemon.Ready()) << daemon.log();
    ASSERT_TRUE(consumer.WaitFor([](const Messages& m) {
        return StatusIs(m, "keep", "serial", "000000000000000000000001") &&
               StatusIs(m, "swap", "serial", "000000000000000000000002") &&
               StatusIs(m, "gone", "state", "online") && StatusIs(m, "dock", "state", "link-lost");
    })) << daemon.log();
    // The reader that cannot be opened is named in the log with the reason, not only in its status
    // (once its link-lost event is stored, which may come a moment after the status).
    EXPECT_TRUE(testing::WaitUntil([&] {
        return daemon.log().find("reader dock (" + missingPort +
                                 "): cannot be reached: the serial port could not be opened (-32)") !=
               std::string::npos;
    })) << daemon.log();

    // Added, removed and changed readers; "keep" and "dock" go on untouched.
    Config(
        broker.port(), directory,
        {{"keep", one.address()}, {"swap", four.address()}, {"fresh", absentSocket}, {"dock", missingPort}});
    daemon.process().Signal(SIGHUP);
    ASSERT_TRUE(consumer.WaitFor([](const Messages& m) {
        return Cleared(m, "gone") && StatusIs(m, "swap", "serial", "000000000000000000000004") &&
               StatusIs(m, "fresh", "state", "link-lost");
    })) << daemon.log();
    EXPECT_NE(daemon.log().find("configuration reloaded: added fresh, removed gone, reopened swap"),
              std::string::npos)
        << daemon.log();
    EXPECT_EQ(Occurrences(daemon.log(), "reader keep (" + one.address() + "): reader of kind"), 1u)
        << "opened once";

    // A file that does not pass the check is refused and the running configuration stays; the
    // user signals do not end the daemon.
    std::ofstream(config) << "site = \n";
    daemon.process().Signal(SIGHUP);
    daemon.process().Signal(SIGUSR1);
    daemon.process().Signal(SIGUSR2);
    const uint64_t before = Highest(Seqs(consumer.messages(), "keep"));
    ASSERT_TRUE(consumer.WaitFor([&](const Messages& m) { return Highest(Seqs(m, "keep")) >= before + 10; }))
        << daemon.log();
    EXPECT_NE(daemon.log().find("zendrikd.toml:1: "), std::string::npos) << daemon.log();
    EXPECT_NE(daemon.log().find("the configuration was not reloaded, the running one stays"),
              std::string::npos);

    // A clean stop leaves every reader's status "offline".
    daemon.process().Signal(SIGTERM);
    EXPECT_EQ(daemon.process().Wait(), 0) << daemon.log();
    ASSERT_TRUE(consumer.WaitFor([](const Messages& m) {
        return StatusIs(m, "keep", "state", "offline") && StatusIs(m, "swap", "state", "offline") &&
               StatusIs(m, "fresh", "state", "offline") && StatusIs(m, "dock", "state", "offline") &&
               LastSiteState(m) == "offline";
    })) << daemon.log();
    for (const char* reader : {"keep", "swap"}) {
        SCOPED_TRACE(reader);
        ExpectGapFree(Seqs(consumer.messages(), reader));
    }
    EXPECT_TRUE(Seqs(consumer.messages(), "gone").size() > 0);

    // Readers taken out while it was stopped have their statuses cleared at the next start.
    const std::size_t seen = consumer.messages().size();
    Config(broker.port(), directory, {{"keep", one.address()}});
    Zendrikd again(config, directory);
    ASSERT_TRUE(again.Ready()) << again.log();
    ASSERT_TRUE(consumer.WaitFor([&](const Messages& m) {
        const Messages since(m.begin() + static_cast<std::ptrdiff_t>(seen), m.end());
        return Cleared(since, "swap") && Cleared(since, "fresh") && Cleared(since, "dock") &&
               StatusIs(since, "keep", "state", "online");
    })) << again.log();
    Subscriber late(broker.port(), "zt/t/+/status");
    ASSERT_TRUE(late.WaitFor([](const Messages& m) { return StatusIs(m, "keep", "state", "online"); }));
    for (const Message& message : late.messages()) {
        EXPECT_EQ(message.topic, "zt/t/keep/status") << "only the configured reader keeps a status";
    }
    EXPECT_EQ(again.process().Stop(), 0);
}

// A status round longer than any test: what HTTP answers must be as of now, not as of the last round.
constexpr int kNoStatusRoundMs = 600000;
constexpr uint64_t kFreshReads = 5;
constexpr uint64_t kReadsWhileBrokerAway = 10;
constexpr const char* kConsolePage = "<!doctype html><title>site console</title>";
constexpr const char* kHttpToken = "sim-test-token";

// A request with the daemon's token (Prometheus's own API takes no notice of it).
HttpReply Request(uint16_t port, const std::string& method, const std::string& path) {
    return HttpConnection(port).Request(method, path,
                                        {{"Authorization", std::string("Bearer ") + kHttpToken}});
}

HttpReply Get(uint16_t port, const std::string& path) {
    return Request(port, "GET", path);
}

nlohmann::ordered_json Ordered(const std::string& text) {
    return nlohmann::ordered_json::parse(text, nullptr, false);
}

std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.push_back(key);
    }
    return keys;
}

uint64_t ReadsOf(const Messages& messages, const std::string& reader) {
    return static_cast<uint64_t>(std::count_if(messages.begin(), messages.end(), [&](const Message& message) {
        return message.topic == "zt/t/" + reader + "/reads";
    }));
}

// The reader and sequence number of a frame's "id: READER:SEQ".
std::pair<std::string, uint64_t> IdOf(const EventStreamClient::Frame& frame) {
    const std::size_t colon = frame.id.rfind(':');
    return {frame.id.substr(0, colon), std::stoull(frame.id.substr(colon + 1))};
}

using Frames = std::vector<EventStreamClient::Frame>;

// The highest sequence number of `reader` among the frames.
uint64_t HighestStreamed(const Frames& frames, const std::string& reader) {
    uint64_t highest = 0;
    for (const auto& frame : frames) {
        if (IdOf(frame).first == reader) {
            highest = std::max(highest, IdOf(frame).second);
        }
    }
    return highest;
}

Frames FramesOf(EventStreamClient& client) {
    Frames frames;
    client.WaitFor([&](const EventStreamClient& c) {
        frames = c.frames();
        return true;
    });
    return frames;
}

// A Prometheus of the test's own that scrapes the daemon's metrics every second.
class Prometheus {
  public:
    Prometheus(const TemporaryDirectory& directory, uint16_t target) : port_(FreePort()) {
        const std::string config = directory.File("prometheus.yml");
        std::ofstream(config) << "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: zendrikd\n"
                              << "    authorization:\n      credentials: " << kHttpToken << "\n"
                              << "    static_configs:\n      - targets: ['127.0.0.1:" << target << "']\n";
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/prometheus", "--config.file=" + config,
                                     "--storage.tsdb.path=" + directory.File("prometheus"),
                                     "--web.listen-address=127.0.0.1:" + std::to_string(port_),
                                     "--log.level=warn"},
            directory.File("prometheus.log"));
    }

    // The series of an instant query once there are `count` of them: label `reader` -> value.
    std::map<std::string, std::string> Query(const std::string& query, std::size_t count) {
        std::map<std::string, std::string> values;
        WaitUntil(
            [&] {
                const HttpReply reply = Get(port_, "/api/v1/query?query=" + query);
                const auto answer = nlohmann::json::parse(reply.body, nullptr, false);
                if (reply.status != 200 || !answer.is_object() || answer["data"]["result"].size() != count) {
                    return false;
                }
                for (const auto& series : answer["data"]["result"]) {
                    values[series["metric"]["reader"].get<std::string>()] =
                        series["value"][1].get<std::string>();
                }
                return true;
            },
            60s);
        return values;
    }

  private:
    uint16_t port_;
    std::unique_ptr<ChildProcess> process_;
};

// zendrikd's HTTP side as a program, behind a token: its health (503 with the reason while the broker is
// away), the site and the readers' statuses with every field the broker gets (as of now), the refusal of a
// command, the console's page from --console-dir, the event stream giving every stored event once with its id
// and the payload the broker gets (also while the broker is away), and the metrics as promtool and a real
// Prometheus read them.
TEST(DaemonSimTest, ServesHealthStatusesEventsAndMetricsOverHttp) {
    Broker broker;
    TemporaryDirectory directory;
    VirtualReader gate1(directory, "gate-1", "1");
    VirtualReader gate2(directory, "gate-2", "2");
    const std::map<std::string, std::string> addresses{{"gate-1", gate1.address()},
                                                       {"gate-2", gate2.address()}};
    const uint16_t port = FreePort();
    const std::string config =
        Config(broker.port(), directory, {{"gate-1", gate1.address()}, {"gate-2", gate2.address()}},
               "listen = \"127.0.0.1:" + std::to_string(port) + "\"\ntoken = \"" + kHttpToken + "\"\n",
               kNoStatusRoundMs);
    std::filesystem::create_directory(directory.File("console"));
    std::ofstream(directory.File("console/index.html")) << kConsolePage;
    Prometheus prometheus(directory, port);  // first: it takes the longest to come up
    Subscriber consumer(broker.port(), "zt/#", "consumer");
    Zendrikd daemon(config, directory, {}, {"--console-dir", directory.File("console")});
    ASSERT_TRUE(daemon.Ready()) << daemon.log();
    EventStreamClient stream(port, std::string("/api/v1/events?token=") + kHttpToken, {});
    ASSERT_TRUE(WaitUntil([&] { return Get(port, "/healthz").body == R"({"state":"ok"})"; })) << daemon.log();
    EXPECT_NE(daemon.log().find("serving HTTP on port " + std::to_string(port)), std::string::npos);

    // Every field of the status the broker retains, plus the name, the address and the declared
    // settings; the counts are those of now, past the retained status of the last change.
    ASSERT_TRUE(consumer.WaitFor([](const Messages& m) {
        for (const char* reader : {"gate-1", "gate-2"}) {
            const std::optional<Message> status = LastStatus(m, reader);
            if (!status || Json(*status)["serial"].is_null() ||
                ReadsOf(m, reader) < Json(*status)["reads"].get<uint64_t>() + kFreshReads) {
                return false;
            }
        }
        return true;
    })) << daemon.log();
    const Messages seen = consumer.messages();
    const HttpReply readers = Get(port, "/api/v1/readers");
    ASSERT_EQ(readers.status, 200);
    const auto list = Ordered(readers.body);
    ASSERT_EQ(list.size(), 2u) << readers.body;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string name = i == 0 ? "gate-1" : "gate-2";
        SCOPED_TRACE(name);
        const auto retained = Ordered(LastStatus(seen, name)->payload);
        std::vector<std::string> keys{"name"};
        for (const std::string& key : Keys(retained)) {
            keys.push_back(key);
        }
        keys.insert(keys.end(), {"address", "managed", "managed_sources"});
        EXPECT_EQ(Keys(list[i]), keys);
        EXPECT_EQ(list[i]["name"], name);
        for (const char* key : {"state", "kind", "version", "serial"}) {
            EXPECT_EQ(list[i][key], retained[key]) << key;
        }
        EXPECT_GE(list[i]["reads"].get<uint64_t>(), ReadsOf(seen, name));
        EXPECT_EQ(list[i]["address"], addresses.at(name));
        EXPECT_EQ(list[i]["managed"], nlohmann::ordered_json::object());
        const auto one = Ordered(Get(port, "/api/v1/readers/" + name).body);
        EXPECT_EQ(Keys(one), keys);
        EXPECT_EQ(one["serial"], retained["serial"]);
    }
    const HttpReply unknown = Get(port, "/api/v1/readers/gate-9");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(Ordered(unknown.body)["code"], -303);
    EXPECT_EQ(
        Get(port, "/api/v1/site").body,
        R"({"site":"t","commands":"off","readers":2,"mqtt":"connected","event_kinds":["read","arrived",)"
        R"("departed","link-lost","link-restored","link-up","settings-drift","settings-applied",)"
        R"("settings-failed","spool-lost","zone-entered","zone-left","passage"],"doors":[]})");
    EXPECT_EQ(HttpConnection(port).Request("GET", "/api/v1/readers").status, 401) << "no token";
    EXPECT_EQ(HttpConnection(port).Request("GET", "/metrics", {{"Authorization", "Bearer not-it"}}).status,
              401)
        << "a wrong token";
    EXPECT_EQ(HttpConnection(port).Request("GET", "/healthz").status, 200) << "health asks for no token";
    const HttpReply command = Request(port, "POST", "/api/v1/readers/gate-1/inventory/stop");
    EXPECT_EQ(command.status, 403);
    EXPECT_EQ(Ordered(command.body)["code"], -301);
    const HttpReply page = Get(port, "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, kConsolePage);
    // A second daemon cannot have the port: it ends at once, and says why.
    TemporaryDirectory second;
    const std::string taken = directory.File("taken.log");
    EXPECT_EQ(ChildProcess({ZENDRIKD_PATH, "--config",
                            Config(broker.port(), second, {{"gate-1", gate1.address()}},
                                   "listen = \"127.0.0.1:" + std::to_string(port) + "\"\n")},
                           taken)
                  .Wait(),
              1);
    EXPECT_NE(ReadFile(taken).find("cannot listen on 127.0.0.1:" + std::to_string(port) +
                                   ": Address already in use"),
              std::string::npos)
        << ReadFile(taken);

    // A reader unplugged: its link-lost comes down the stream, and its status says so by then.
    gate2.Unplug();
    ASSERT_TRUE(stream.WaitFor([](const EventStreamClient& c) {
        return std::any_of(c.frames().begin(), c.frames().end(), [](const EventStreamClient::Frame& frame) {
            return IdOf(frame).first == "gate-2" && frame.event == "link-lost";
        });
    })) << daemon.log();
    EXPECT_EQ(Ordered(Get(port, "/api/v1/readers/gate-2").body)["state"], "link-lost");

    // The broker away: degraded, with the reason; the stream goes on from the spool's side.
    broker.Stop();
    ASSERT_TRUE(WaitUntil([&] { return Get(port, "/healthz").status == 503; })) << daemon.log();
    EXPECT_EQ(Get(port, "/healthz").body,
              R"({"state":"degraded","reasons":["the broker is not connected"]})");
    EXPECT_NE(Get(port, "/metrics").body.find("\nzendrik_mqtt_connected 0\n"), std::string::npos);
    const uint64_t whileAway = HighestStreamed(FramesOf(stream), "gate-1") + kReadsWhileBrokerAway;
    ASSERT_TRUE(stream.WaitFor(
        [&](const EventStreamClient& c) { return HighestStreamed(c.frames(), "gate-1") >= whileAway; }));
    broker.Start();
    ASSERT_TRUE(WaitUntil([&] { return Get(port, "/healthz").status == 200; }, 15s)) << daemon.log();

    // The metrics as promtool and Prometheus read them.
    const HttpReply metrics = Get(port, "/metrics");
    ASSERT_EQ(metrics.status, 200);
    EXPECT_NE(metrics.headers.at("content-type").find("version=0.0.4"), std::string::npos);
    for (const char* sample :
         {"\nzendrik_reader_up{reader=\"gate-1\"} 1\n", "\nzendrik_reader_up{reader=\"gate-2\"} 0\n",
          "\nzendrik_link_losses_total{reader=\"gate-2\"} 1\n", "\nzendrik_mqtt_connected 1\n"}) {
        EXPECT_NE(metrics.body.find(sample), std::string::npos) << sample << metrics.body;
    }
    std::ofstream(directory.File("metrics.txt")) << metrics.body;
    const std::string promtool = directory.File("promtool.log");
    EXPECT_EQ(
        ChildProcess({"sh", "-c", "promtool check metrics < " + directory.File("metrics.txt")}, promtool)
            .Wait(),
        0);
    EXPECT_EQ(ReadFile(promtool), "");
    const auto reads = prometheus.Query("zendrik_reads_total", 2);
    ASSERT_EQ(reads.size(), 2u) << ReadFile(directory.File("prometheus.log"));
    for (const auto& [reader, value] : reads) {
        EXPECT_TRUE(addresses.count(reader)) << reader;
        EXPECT_GT(std::stod(value), 0) << reader;
    }

    // Every event the stream gave was stored and published just so, each once and in order.
    std::map<std::string, uint64_t> published;
    for (const char* reader : {"gate-1", "gate-2"}) {
        published[reader] = Highest(Seqs(consumer.messages(), reader));
    }
    ASSERT_TRUE(stream.WaitFor([&](const EventStreamClient& c) {
        return HighestStreamed(c.frames(), "gate-1") >= published["gate-1"] &&
               HighestStreamed(c.frames(), "gate-2") >= published["gate-2"];
    }));
    EXPECT_EQ(daemon.process().Stop(), 0) << daemon.log();
    ASSERT_TRUE(consumer.WaitFor([](const Messages& m) { return LastSiteState(m) == "offline"; }));
    std::map<std::pair<std::string, uint64_t>, std::string> payloads;
    for (const Message& message : consumer.messages()) {
        if (message.topic.ends_with("/reads") || message.topic.ends_with("/events")) {
            const nlohmann::json event = Json(message);
            payloads[{event["reader"], event["seq"]}] = message.payload;
        }
    }
    std::map<std::string, uint64_t> next;
    for (const auto& frame : FramesOf(stream)) {
        SCOPED_TRACE(frame.id);
        const auto [reader, seq] = IdOf(frame);
        if (next.count(reader) > 0) {
            ASSERT_EQ(seq, next[reader]) << "each event once, in order";
        }
        next[reader] = seq + 1;
        if (seq <= published[reader]) {
            const auto payload = payloads.find({reader, seq});
            ASSERT_NE(payload, payloads.end());
            EXPECT_EQ(frame.data, payload->second);
            EXPECT_EQ(frame.event, nlohmann::json::parse(frame.data)["event"]);
        }
    }
    EXPECT_EQ(next.size(), 2u);
}

TEST(DaemonSimTest, ManySilentReadersDelayNeitherReadyNorAStop) {
    constexpr int kSilentReaders = 20;
    Broker broker;
    TemporaryDirectory directory;
    std::vector<std::unique_ptr<SilentUdpPort>> silent;
    std::vector<std::pair<std::string, std::string>> readers;
    for (int i = 0; i < kSilentReaders; ++i) {
        silent.push_back(std::make_unique<SilentUdpPort>());
        readers.emplace_back("net-" + std::to_string(i), silent.back()->address());
    }
    const std::string config = Config(broker.port(), directory, readers);
    Subscriber site(broker.port(), "zt/t/status");
    std::size_t firstLog = 0;
    {
        // Each of them takes a second to be given up; opened side by side, they hold the start
        // up for one second, not twenty.
        Zendrikd daemon(config, directory);
        ASSERT_TRUE(daemon.Ready()) << daemon.log();
        ASSERT_TRUE(site.WaitFor([](const Messages& m) { return LastSiteState(m) == "online"; }));
        EXPECT_EQ(daemon.process().Stop(), 0);
        firstLog = daemon.log().size();
    }
    // SIGTERM while the readers are still being opened is obeyed then and there: the daemon
    // stops without ever saying it is ready.
    Zendrikd starting(config, directory);
    ASSERT_TRUE(starting.Notified("STATUS=opening 20 readers")) << starting.log();
    starting.process().Signal(SIGTERM);
    const std::vector<std::string> notifications = starting.NotificationsUntil("STOPPING=1");
    ASSERT_FALSE(notifications.empty()) << starting.log();
    for (const std::string& notification : notifications) {
        EXPECT_EQ(notification.find("READY=1"), std::string::npos) << notification;
    }
    EXPECT_EQ(starting.process().Wait(), 0) << starting.log();
    const std::string log = starting.log().substr(firstLog);
    EXPECT_EQ(log.find("reading 20 readers"), std::string::npos) << log;
    EXPECT_NE(log.find("stopped; "), std::string::npos) << log;
}

// Two readers behind one daemon, the reads of one always larger than the broker takes (once as a
// payload over message_size_limit, once as a packet over max_packet_size): the small one's reads
// all arrive as fast as ever, the big one's go to the dead letters, counted, said once in the
// journal and in its status.
TEST(DaemonSimTest, ReaderWhoseMessagesTheBrokerRefusesHoldsUpNoOther) {
    constexpr uint64_t kSmallReads = 150;  // some 1.5 s of 10 ms rounds
    constexpr int64_t kLatencyMaxMs = 1000;
    const std::string bigEpc(2 * 52, 'b');
    struct Case {
        const char* limit;
        std::size_t payloadMaxBytes;  // the largest payload on big's topic that the limit lets through
        const char* reason;           // a part of the reason big's status gives
    };
    // A PUBLISH under MQTT 5 on zt/t/big/reads: type, remaining length (two bytes from 128 on), topic
    // length, the 14 bytes of the topic, packet id, property length; then the payload.
    constexpr std::size_t kBigPacketOverhead = 1 + 2 + 2 + 14 + 2 + 1;
    const Case cases[] = {
        {"message_size_limit 240", 240, "the broker refused it"},
        {"max_packet_size 300", 300 - kBigPacketOverhead, "larger than the 300 bytes"},
    };
    for (const auto& [limit, payloadMaxBytes, reasonPart] : cases) {
        SCOPED_TRACE(limit);
        Broker broker(std::string("allow_anonymous true\n") + limit);
        TemporaryDirectory directory;
        VirtualReader small(directory, "small", "1");
        VirtualReader big(directory, "big", "2", {bigEpc});
        const uint16_t port = FreePort();
        const std::string config =
            Config(broker.port(), directory, {{"small", small.address()}, {"big", big.address()}},
                   "listen = \"127.0.0.1:" + std::to_string(port) + "\"\ntoken = \"" + kHttpToken + "\"\n");
        Subscriber reads(broker.port(), "zt/t/#");
        Zendrikd daemon(config, directory);
        ASSERT_TRUE(daemon.Ready()) << daemon.log();
        ASSERT_TRUE(reads.WaitFor([](const Messages& m) { return Highest(Seqs(m, "small")) >= kSmallReads; }))
            << daemon.log() << broker.log();
        nlohmann::json bigStatus;
        ASSERT_TRUE(WaitUntil([&] {
            const HttpReply reply = Get(port, "/api/v1/readers/big");
            bigStatus = nlohmann::json::parse(reply.body, nullptr, false);
            return reply.status == 200 && bigStatus.is_object() &&
                   bigStatus.value("dead", uint64_t{0}) >= kSmallReads / 2 &&
                   bigStatus.contains("dead_reason");
        })) << bigStatus.dump()
            << daemon.log();
        const nlohmann::json smallStatus = nlohmann::json::parse(Get(port, "/api/v1/readers/small").body);
        EXPECT_EQ(daemon.process().Stop(), 0) << daemon.log();

        const Messages messages = reads.messages();
        ExpectGapFree(Seqs(messages, "small"));
        // Big's reads are some 280 bytes: the first few (a count of one digit) may fit a packet limit.
        for (const Message& message : OnTopicsEndingIn(messages, "big/reads")) {
            EXPECT_LE(message.payload.size(), payloadMaxBytes) << message.payload;
        }
        int64_t slowest = 0;
        for (const Message& message : OnTopicsEndingIn(messages, "small/reads")) {
            slowest = std::max(slowest,
                               message.receivedUnixMs -
                                   base::ParseUtcText(Json(message)["time"].get<std::string>()).value_or(0));
        }
        EXPECT_LE(slowest, kLatencyMaxMs) << "small's reads were held up";
        EXPECT_EQ(smallStatus["dead"], 0);
        EXPECT_FALSE(smallStatus.contains("dead_reason"));
        EXPECT_LE(bigStatus["spooled"].get<uint64_t>(), kSmallReads / 10)
            << "big's reads are not kept waiting";
        const std::string reason = bigStatus["dead_reason"];
        EXPECT_NE(reason.find(reasonPart), std::string::npos) << reason;
        const std::string log = daemon.log();
        EXPECT_EQ(Occurrences(log, "reader big: message "), 1u) << log;
        EXPECT_EQ(Occurrences(log, "reader small: message "), 0u) << log;
        EXPECT_NE(log.find("(MQTT 5"), std::string::npos) << log;
    }
}

TEST(DaemonSimTest, CommandLineChecksTheConfiguration) {
    TemporaryDirectory directory;
    struct Case {
        const char* what;
        std::string text;  // the file; empty: no --config file is written
        std::vector<std::string> arguments;
        int exit;
        std::string output;  // a part of what it prints
    };
    const std::string good = "site = \"a\"\n[[reader]]\nname = \"g\"\naddress = \"usb\"\n";
    const std::string spoolHere = "[spool]\npath = \"" + directory.File("spool.sqlite") + "\"\n";
    const Case cases[] = {
        {"a good file", good + spoolHere, {"--check-config"}, 0, "site a with 1 readers is valid"},
        {"a spool directory that does not exist",
         good + "[spool]\npath = \"" + directory.File("missing/spool.sqlite") + "\"\n",
         {"--check-config"},
         1,
         "the spool's directory " + directory.File("missing") + " does not exist"},
        {"a spool directory that does not exist, at a normal start",
         good + "[spool]\npath = \"" + directory.File("missing/spool.sqlite") + "\"\n",
         {},
         1,
         "the spool's directory " + directory.File("missing") + " does not exist"},
        {"an unknown key",
         good + "colour = 1\n",
         {"--check-config"},
         1,
         "zendrikd.toml:5: unknown key \"colour\""},
        {"an address that does not parse",
         "site = \"a\"\n[[reader]]\nname = \"g\"\naddress = \"tcp:1\"\n",
         {"--check-config"},
         1,
         "zendrikd.toml:4: reader \"g\": address \"tcp:1\" does not parse"},
        {"a message limit out of range",
         good + "[mqtt]\nmax_message_bytes = 0\n",
         {"--check-config"},
         1,
         "zendrikd.toml:6: \"max_message_bytes\" in [mqtt] must be from 128 to 268435460, not 0"},
        {"TOML syntax", "site = \n", {"--check-config"}, 1, "zendrikd.toml:1: "},
        {"a missing file", "", {"--check-config"}, 1, "cannot read"},
        {"an unknown option", good, {"--colour"}, 2, "colour"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string config = directory.File("zendrikd.toml");
        std::filesystem::remove(config);
        if (!c.text.empty()) {
            std::ofstream(config) << c.text;
        }
        const std::string log = directory.File(std::string(c.what) + ".log");
        std::vector<std::string> argv{ZENDRIKD_PATH, "--config", config};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        ChildProcess program(argv, log);
        EXPECT_EQ(program.Wait(), c.exit);
        EXPECT_NE(ReadFile(log).find(c.output), std::string::npos) << ReadFile(log);
    }
}

}  // namespace
}  // namespace zendrik::testing
