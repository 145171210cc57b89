// Many sites on one central broker, as the README's "Many sites" lays it out: two zendrikd with
// virtual readers, each publishing to its site's own mosquitto, which bridges PREFIX/SITE/# to a
// central mosquitto (a connection bridge at QoS 1, cleansession false, persistence). The site
// brokers (and so their bridges) and the central broker are restarted while the readers read;
// `zendrik listen --strict` on the central broker, one per site, must then have given every
// sequence number of every reader once, with no gap and no loss.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "daemon/store/spool.h"
#include "tests/daemon/broker.h"
#include "tests/daemon/child_process.h"
#include "tests/daemon/sim_harness.h"

namespace zendrik::testing {
namespace {

using Json = nlohmann::json;

constexpr const char* kPrefix = "zt";
// No broker of the chain may drop what it queues for a client that is away: the bridge while the
// central broker restarts, the listener's session while it does not read.
constexpr const char* kKeepEverything = "allow_anonymous true\nmax_queued_messages 0\n";
// While it runs, each broker restarted is away this long.
constexpr auto kReadingTime = 1500ms;
constexpr auto kAwayTime = 700ms;
constexpr auto kDeliveryWait = 30s;
constexpr auto kSubscribeWait = 10s;
constexpr int kListenerGapExit = 3;

// The central broker logs subscriptions, so that the test knows when a listener's are in place.
std::string CentralConfig() {
    return std::string(kKeepEverything) +
           "log_type error\nlog_type warning\nlog_type notice\nlog_type information\nlog_type subscribe\n";
}

// A site broker that bridges its site's topics to the central one, as the README shows it.
std::string SiteConfig(const std::string& site, uint16_t centralPort) {
    std::ostringstream config;
    config << kKeepEverything << "connection " << site << "\n"
           << "address 127.0.0.1:" << centralPort << "\n"
           << "remote_clientid bridge-" << site << "\n"
           << "cleansession false\n"
           << "topic " << kPrefix << "/" << site << "/# out 1\n"
           << "notifications false\n"
           << "restart_timeout 1\n";
    return config.str();
}

// One site: its readers, its broker and its zendrikd, each in the site's own directory.
struct Site {
    Site(const std::string& siteName, uint16_t centralPort, const std::vector<std::string>& readerNames)
        : name(siteName), broker(SiteConfig(siteName, centralPort)) {
        std::string text = "site = \"" + name +
                           "\"\nstatus_interval_ms = 300\n[mqtt]\nport = " + std::to_string(broker.port()) +
                           "\ntopic_prefix = \"" + kPrefix +
                           "\"\nreconnect_max_ms = 300\n[spool]\npath = \"" + directory.File("spool.sqlite") +
                           "\"\n[http]\nlisten = \"\"\n";
        static int serial = 0;  // hex digits: one number of its own for every reader of the test
        for (const std::string& reader : readerNames) {
            readers.push_back(std::make_unique<VirtualReader>(directory, reader, std::to_string(++serial)));
            text +=
                "[[reader]]\nname = \"" + reader + "\"\naddress = \"" + readers.back()->address() + "\"\n";
        }
        std::ofstream(directory.File("zendrikd.toml")) << text;
    }

    void StartDaemon() { daemon = std::make_unique<Zendrikd>(directory.File("zendrikd.toml"), directory); }

    // Restarts the site's broker, and so its bridge.
    void RestartBroker() {
        broker.Stop();
        std::this_thread::sleep_for(kAwayTime);
        broker.Start();
    }

    std::string name;
    TemporaryDirectory directory;
    Broker broker;
    std::vector<std::unique_ptr<VirtualReader>> readers;
    std::unique_ptr<Zendrikd> daemon;
};

// `zendrik listen --strict` for one site on the central broker, its lines in a file.
class Listener {
  public:
    Listener(const TemporaryDirectory& directory, const std::string& site, uint16_t port)
        : output_(directory.File("listen-" + site + ".jsonl")),
          process_({ZENDRIK_CLI_PATH, "listen", "--broker", "mqtt://127.0.0.1:" + std::to_string(port),
                    "--site", site, "--prefix", kPrefix, "--client-id", "judge-" + site, "--strict"},
                   output_) {}

    // The lines it printed (its own complaints, which are no JSON, left out).
    std::vector<Json> Lines() const {
        std::vector<Json> lines;
        std::istringstream text(ReadFile(output_));
        for (std::string line; std::getline(text, line);) {
            Json json = Json::parse(line, nullptr, false);
            if (json.is_object()) {
                lines.push_back(std::move(json));
            }
        }
        return lines;
    }
    ChildProcess& process() { return process_; }

  private:
    std::string output_;
    ChildProcess process_;
};

// How often the listener gave each reader's each number.
using Counts = std::map<std::string, std::map<uint64_t, int>>;

Counts SeqCounts(const std::vector<Json>& lines) {
    Counts counts;
    for (const Json& line : lines) {
        if (line.contains("reader") && line.contains("seq")) {
            ++counts[line["reader"].get<std::string>()][line["seq"].get<uint64_t>()];
        }
    }
    return counts;
}

// Whether every number from 1 to each reader's last came.
bool AllCame(const Counts& counts, const std::map<std::string, uint64_t>& last) {
    for (const auto& [reader, seq] : last) {
        const auto stream = counts.find(reader);
        if (stream == counts.end() || stream->second.size() < seq) {
            return false;
        }
    }
    return true;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

TEST(ManySitesTest, ListenersOnTheCentralBrokerMissNothingAcrossBridgeAndBrokerRestarts) {
    TemporaryDirectory directory;
    Broker central(CentralConfig());
    const std::map<std::string, std::vector<std::string>> layout = {{"site-a", {"a1", "a2"}},
                                                                    {"site-b", {"b1"}}};
    std::map<std::string, std::unique_ptr<Listener>> listeners;
    for (const auto& [site, readers] : layout) {
        listeners[site] = std::make_unique<Listener>(directory, site, central.port());
        const std::string subscribed = "judge-" + site + " 1 " + std::string(kPrefix) + "/" + site + "/";
        ASSERT_TRUE(
            WaitFor([&] { return central.log().find(subscribed) != std::string::npos; }, kSubscribeWait))
            << central.log();
    }
    std::vector<std::unique_ptr<Site>> sites;
    for (const auto& [site, readers] : layout) {
        sites.push_back(std::make_unique<Site>(site, central.port(), readers));
        sites.back()->StartDaemon();
        ASSERT_TRUE(sites.back()->daemon->Ready()) << sites.back()->daemon->log();
    }

    // The readers read on while each link of the chain goes away and comes back: site a's bridge,
    // the central broker, site b's bridge.
    std::this_thread::sleep_for(kReadingTime);
    sites[0]->RestartBroker();
    std::this_thread::sleep_for(kReadingTime);
    central.Stop();
    std::this_thread::sleep_for(kAwayTime);
    central.Start();
    std::this_thread::sleep_for(kReadingTime);
    sites[1]->RestartBroker();
    std::this_thread::sleep_for(kReadingTime);

    // Stopped, each daemon has handed everything to its site broker; its spool names each
    // reader's last number.
    std::map<std::string, uint64_t> last;
    for (const auto& site : sites) {
        site->daemon->process().Signal(SIGTERM);
        ASSERT_EQ(site->daemon->process().Wait(), 0) << site->daemon->log();
        const daemon::Spool spool(site->directory.File("spool.sqlite"), 1);
        EXPECT_EQ(spool.size(), 0u) << site->name << ": everything acknowledged by its broker";
        for (const std::string& reader : layout.at(site->name)) {
            last[reader] = spool.lastSeq(reader);
            EXPECT_GT(last[reader], 100u) << reader << " read through the restarts\n" << site->daemon->log();
        }
    }

    std::vector<Json> lines;
    const bool came = WaitFor(
        [&] {
            lines.clear();
            for (const auto& [site, listener] : listeners) {
                const std::vector<Json> more = listener->Lines();
                lines.insert(lines.end(), more.begin(), more.end());
            }
            return AllCame(SeqCounts(lines), last);
        },
        kDeliveryWait);
    for (const auto& [site, listener] : listeners) {
        listener->process().Signal(SIGINT);
        EXPECT_EQ(listener->process().Wait(), 0)
            << site << ": no unannounced gap (--strict ends with " << kListenerGapExit << ")";
    }
    EXPECT_TRUE(came) << "every number of every reader on the central broker\n" << central.log();
    const Counts counts = SeqCounts(lines);
    for (const auto& [reader, seq] : last) {
        SCOPED_TRACE(reader);
        const auto& seen = counts.count(reader) ? counts.at(reader) : std::map<uint64_t, int>{};
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.begin()->first, 1u) << "from the first";
        EXPECT_EQ(seen.rbegin()->first, seq) << "to the last";
        EXPECT_EQ(seen.size(), seq) << "none missing";
        for (const auto& [number, times] : seen) {
            EXPECT_EQ(times, 1) << "seq " << number << " given once";
        }
    }
    for (const Json& line : lines) {
        EXPECT_FALSE(line.contains("gap") || line.contains("lost")) << line;
    }
}

}  // namespace
}  // namespace zendrik::testing
