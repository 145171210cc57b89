// zendrikd end to end: eight virtual readers with a tag each, the daemon, a mosquitto and one
// subscriber, and beside MQTT a webhook output to a receiver on 127.0.0.1 (plain HTTP, 100 ms
// batches). Counters: reads delivered (distinct reader and seq) per read the readers answered
// (goal 1.0), the delay from a read's time to its arrival at the subscriber (p50, p99; goal
// p99 <= 20 ms on loopback), and the daemon's resident memory at the end of the run per that after
// a tenth of it (goal <= 1.05). ZENDRIK_DAEMON_BENCH_SECONDS sets the run (default 600: memory
// after 10 minutes against after 1). The judges of "nothing lost", on both outputs: `zendrik listen
// --strict` in a persistent session on the broker from before the daemon's start to the end, and
// `zendrik listen --webhook-file --strict` over the receiver's bodies at the end; for each, its
// exit status (goal 0), the reads it gave against those answered (goal: none missing) and the
// numbers it reported as gaps or announced losses (goal 0). A stop leaves the rows of the webhook's
// last batch in the spool (counted); the daemon is started once more, its readers gone, to send them.
// Read to event stream: the same readers and daemon with one client of GET /api/v1/events, the delay
// from a read's time to its arrival there (p50, p99; goal p99 <= 20 ms, as for MQTT);
// ZENDRIK_DAEMON_STREAM_SECONDS sets the run (default 30).
// Flash wear: the bytes the daemon had written to disk (/proc/PID/io write_bytes) per byte of read
// payload delivered, with the eight virtual readers (about 300 reads a second; goal <= 8);
// ZENDRIK_DAEMON_WEAR_SECONDS sets the measured time (default 60). Drain: a spool of
// ZENDRIK_DAEMON_DRAIN_MESSAGES (default 500 000) left by a broker outage, sent by a daemon that
// starts with the broker up: messages a second from its start until its metrics say the spool is
// empty (goal >= 25 000).
// Start and stop: the time to READY=1 and to the first message published with twenty network
// readers that are switched on but silent, and the time from SIGTERM to the exit with 200 virtual
// readers on 250 ms rounds (the unit's TimeoutStopSec is 20 s).
#include <benchmark/benchmark.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "base/time_text.h"
#include "bench/daemon_harness.h"
#include "bench/percentile.h"
#include "bench/soak_judges.h"
#include "daemon/store/spool.h"
#include "tests/daemon/broker.h"
#include "tests/daemon/child_process.h"
#include "tests/daemon/http_client.h"
#include "tests/daemon/notify_socket.h"
#include "tests/daemon/silent_udp.h"
#include "tests/support/loopback.h"

namespace {

using namespace std::chrono_literals;
using zendrik::bench::AnsweredReads;
using zendrik::bench::BenchConfig;
using zendrik::bench::BrokerListener;
using zendrik::bench::CheckWebhookBodies;
using zendrik::bench::ListenVerdict;
using zendrik::bench::Percentile;
using zendrik::bench::SecondsFrom;
using zendrik::bench::StartVirtualReaders;
using zendrik::bench::WebhookReceiver;
using zendrik::testing::Broker;
using zendrik::testing::ChildProcess;
using zendrik::testing::EventStreamClient;
using zendrik::testing::FreePort;
using zendrik::testing::Message;
using zendrik::testing::NotifySocket;
using zendrik::testing::ReadFile;
using zendrik::testing::SilentUdpPort;
using zendrik::testing::Subscriber;
using zendrik::testing::TemporaryDirectory;

constexpr int kReaders = 8;
constexpr int kRoundTimeMs = 25;  // a real reader's inventory round takes tens of milliseconds
constexpr int kDefaultSeconds = 600;
constexpr int kDefaultStreamSeconds = 30;
constexpr int kEarlyShare = 10;  // memory is first taken after a tenth of the run
constexpr auto kDrainTime = 5s;

int RunSeconds() {
    return std::max(SecondsFrom("ZENDRIK_DAEMON_BENCH_SECONDS", kDefaultSeconds), kEarlyShare);
}

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

constexpr int kAbsentReaders = 20;
constexpr int kStoppedReaders = 200;
constexpr int kStoppedRoundTimeMs = 250;
// Bounds of the waits, far above what is measured even before the daemon started its readers in
// parallel; a run that reaches one reports what it got so far.
constexpr auto kStartLimit = 300s;
constexpr auto kReadingTime = 2s;  // every reader's inventory running before the stop

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Eight virtual readers with a tag each, a broker, the daemon's configuration for them (with the
// `tables` given) and a subscriber to their reads.
struct EightReaderSite {
    explicit EightReaderSite(const std::string& tables = "")
        : config(BenchConfig(broker.port(), directory,
                             StartVirtualReaders(directory, kReaders, kRoundTimeMs, readers), 0, tables)) {}

    // The broker keeps every message for a subscriber however far it falls behind: what is missing
    // is the daemon's.
    Broker broker{"allow_anonymous true\nmax_queued_messages 0"};
    TemporaryDirectory directory;
    std::vector<std::unique_ptr<ChildProcess>> readers;
    const std::string config;
    Subscriber subscriber{broker.port(), "zendrik/bench/+/reads"};
};

// The webhook of the soak: batches of a tenth of a second, ten requests a second at most.
std::string SoakWebhook(const std::string& url) {
    return "[[output]]\nkind = \"webhook\"\nname = \"soak\"\nurl = \"" + url + "\"\nbatch_ms = 100\n";
}

// The rows a stopped daemon left in the spool for its webhooks, as its last line says.
uint64_t HeldForWebhooks(const std::string& log) {
    static const std::regex held("and ([0-9]+) more for the webhooks");
    std::smatch match;
    const std::string text = ReadFile(log);
    return std::regex_search(text, match, held) ? std::stoull(match[1]) : 0;
}

constexpr auto kWebhookCatchUpLimit = 60s;
constexpr auto kWebhookQuiet = 3s;
constexpr auto kWebhookPoll = 200ms;

// What a stop left spooled for the webhook goes out on the next start: the daemon is started
// again, the readers gone, until the receiver has every read answered, or nothing more came for a
// while once something did, or the limit passes.
void SendWhatTheWebhookMissed(const std::string& config, const TemporaryDirectory& directory,
                              WebhookReceiver& receiver, uint64_t held, uint64_t answered) {
    if (held == 0) {
        return;
    }
    const uint64_t before = receiver.reads();
    ChildProcess again({ZENDRIKD_PATH, "--config", config}, directory.File("zendrikd-again.log"));
    const auto deadline = std::chrono::steady_clock::now() + kWebhookCatchUpLimit;
    auto lastGrowth = std::chrono::steady_clock::now();
    for (uint64_t last = before; last < answered && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(kWebhookPoll);
        if (const uint64_t now = receiver.reads(); now != last) {
            last = now;
            lastGrowth = std::chrono::steady_clock::now();
        } else if (last > before && std::chrono::steady_clock::now() - lastGrowth > kWebhookQuiet) {
            break;
        }
    }
    again.Stop();
}

// A judge's counters, each named with `prefix`: reads missing are those answered that it did not give.
void CountVerdict(benchmark::State& state, const std::string& prefix, const ListenVerdict& verdict,
                  uint64_t answered) {
    state.counters[prefix + "_exit"] = verdict.exitStatus;
    state.counters[prefix + "_reads"] = static_cast<double>(verdict.reads);
    state.counters[prefix + "_missing"] = static_cast<double>(answered) - static_cast<double>(verdict.reads);
    state.counters[prefix + "_other_events"] = static_cast<double>(verdict.otherEvents);
    state.counters[prefix + "_gap_lines"] = static_cast<double>(verdict.gapLines);
    state.counters[prefix + "_gaps"] = static_cast<double>(verdict.gapNumbers);
    state.counters[prefix + "_lost_lines"] = static_cast<double>(verdict.lostLines);
    state.counters[prefix + "_lost"] = static_cast<double>(verdict.lostNumbers);
}

void DaemonDelivery(benchmark::State& state) {
    for (auto _ : state) {
        TemporaryDirectory judges;
        WebhookReceiver receiver(judges);
        EightReaderSite site(SoakWebhook(receiver.url()));
        BrokerListener listener(site.broker.port(), judges);  // subscribed before the daemon starts
        ChildProcess daemon({ZENDRIKD_PATH, "--config", site.config}, site.directory.File("zendrikd.log"));
        const auto run = std::chrono::seconds{RunSeconds()};
        std::this_thread::sleep_for(run / kEarlyShare);
        const long early = ResidentKiB(daemon.pid());
        std::this_thread::sleep_for(run - run / kEarlyShare);
        const long late = ResidentKiB(daemon.pid());
        // The daemon stops its readers first, so that every read answered has reached it.
        daemon.Stop();
        uint64_t answered = 0;
        for (int i = 0; i < kReaders; ++i) {
            site.readers[static_cast<std::size_t>(i)]->Stop();
            answered += AnsweredReads(site.directory.File("reader-" + std::to_string(i + 1) + ".log"));
        }
        const uint64_t held = HeldForWebhooks(site.directory.File("zendrikd.log"));
        state.counters["webhook_held_at_stop"] = static_cast<double>(held);
        SendWhatTheWebhookMissed(site.config, site.directory, receiver, held, answered);
        std::this_thread::sleep_for(kDrainTime);
        CountVerdict(state, "listener", listener.Stop(), answered);
        CountVerdict(state, "webhook", CheckWebhookBodies(receiver.bodies(), judges), answered);
        state.counters["webhook_requests"] = static_cast<double>(receiver.requests());

        std::set<std::pair<std::string, uint64_t>> delivered;
        std::vector<double> delays;
        for (const Message& message : site.subscriber.messages()) {
            const nlohmann::json read = nlohmann::json::parse(message.payload);
            if (delivered.emplace(read["reader"], read["seq"]).second) {
                delays.push_back(static_cast<double>(
                    message.receivedUnixMs -
                    zendrik::base::ParseUtcText(read["time"].get<std::string>()).value_or(0)));
            }
        }
        state.counters["answered"] = static_cast<double>(answered);
        state.counters["delivered"] = static_cast<double>(delivered.size());
        state.counters["delivered_per_answered"] =
            answered > 0 ? static_cast<double>(delivered.size()) / static_cast<double>(answered) : 0;
        state.counters["p50_ms"] = Percentile(delays, 0.50);
        state.counters["p99_ms"] = Percentile(delays, 0.99);
        state.counters["rss_early_kib"] = static_cast<double>(early);
        state.counters["rss_late_kib"] = static_cast<double>(late);
        state.counters["rss_late_per_early"] =
            early > 0 ? static_cast<double>(late) / static_cast<double>(early) : 0;
    }
}
BENCHMARK(DaemonDelivery)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void DaemonEventStream(benchmark::State& state) {
    for (auto _ : state) {
        Broker broker;
        TemporaryDirectory directory;
        std::vector<std::unique_ptr<ChildProcess>> readers;
        const uint16_t httpPort = FreePort();
        const std::string config =
            BenchConfig(broker.port(), directory,
                        StartVirtualReaders(directory, kReaders, kRoundTimeMs, readers), httpPort);
        NotifySocket notify(directory.File("notify"));
        ChildProcess daemon({ZENDRIKD_PATH, "--config", config}, directory.File("zendrikd.log"),
                            {{"NOTIFY_SOCKET", notify.path()}});
        notify.WaitFor("READY=1", kStartLimit);
        // Arrival times by the system clock, as the events' times are.
        const auto steadyStart = std::chrono::steady_clock::now();
        const auto unixStart = std::chrono::system_clock::now().time_since_epoch();
        EventStreamClient stream(httpPort, "/api/v1/events", {});
        std::this_thread::sleep_for(
            std::chrono::seconds{SecondsFrom("ZENDRIK_DAEMON_STREAM_SECONDS", kDefaultStreamSeconds)});
        daemon.Stop();
        std::vector<double> delays;
        stream.WaitFor([&](const EventStreamClient& client) {
            for (const EventStreamClient::Frame& frame : client.frames()) {
                if (frame.event != "read") {
                    continue;
                }
                const double receivedUnixMs =
                    std::chrono::duration<double, std::milli>(unixStart + (frame.received - steadyStart))
                        .count();
                const nlohmann::json read = nlohmann::json::parse(frame.data);
                delays.push_back(
                    receivedUnixMs -
                    static_cast<double>(
                        zendrik::base::ParseUtcText(read["time"].get<std::string>()).value_or(0)));
            }
            return true;
        });
        state.counters["reads"] = static_cast<double>(delays.size());
        state.counters["p50_ms"] = Percentile(delays, 0.50);
        state.counters["p99_ms"] = Percentile(delays, 0.99);
    }
}
BENCHMARK(DaemonEventStream)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void DaemonReadyWithAbsentReaders(benchmark::State& state) {
    for (auto _ : state) {
        Broker broker;
        TemporaryDirectory directory;
        std::vector<std::unique_ptr<SilentUdpPort>> silent;
        std::vector<std::string> addresses;
        for (int i = 0; i < kAbsentReaders; ++i) {
            silent.push_back(std::make_unique<SilentUdpPort>());
            addresses.push_back(silent.back()->address());
        }
        const std::string config = BenchConfig(broker.port(), directory, addresses);
        NotifySocket notify(directory.File("notify"));
        Subscriber site(broker.port(), "zendrik/bench/#");
        const int64_t startUnixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count();
        const auto start = std::chrono::steady_clock::now();
        ChildProcess daemon({ZENDRIKD_PATH, "--config", config}, directory.File("zendrikd.log"),
                            {{"NOTIFY_SOCKET", notify.path()}});
        notify.WaitFor("READY=1", kStartLimit);
        state.counters["ready_s"] = SecondsSince(start);
        site.WaitFor([](const std::vector<Message>& m) { return !m.empty(); }, kStartLimit);
        const std::vector<Message> messages = site.messages();
        state.counters["first_publish_s"] =
            messages.empty() ? 0 : static_cast<double>(messages.front().receivedUnixMs - startUnixMs) / 1000;
        daemon.Stop();
    }
}
BENCHMARK(DaemonReadyWithAbsentReaders)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void DaemonStopWithManyReaders(benchmark::State& state) {
    for (auto _ : state) {
        Broker broker;
        TemporaryDirectory directory;
        std::vector<std::unique_ptr<ChildProcess>> readers;
        const std::string config =
            BenchConfig(broker.port(), directory,
                        StartVirtualReaders(directory, kStoppedReaders, kStoppedRoundTimeMs, readers));
        NotifySocket notify(directory.File("notify"));
        const auto start = std::chrono::steady_clock::now();
        ChildProcess daemon({ZENDRIKD_PATH, "--config", config}, directory.File("zendrikd.log"),
                            {{"NOTIFY_SOCKET", notify.path()}});
        notify.WaitFor("READY=1", kStartLimit);
        state.counters["ready_s"] = SecondsSince(start);
        std::this_thread::sleep_for(kReadingTime);
        const auto stop = std::chrono::steady_clock::now();
        daemon.Signal(SIGTERM);
        notify.WaitFor("STOPPING=1", kStartLimit);
        state.counters["stopping_s"] = SecondsSince(stop);
        state.counters["exit_status"] = daemon.Wait();
        state.counters["stop_s"] = SecondsSince(stop);
    }
}
BENCHMARK(DaemonStopWithManyReaders)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

constexpr int kDefaultWearSeconds = 60;
constexpr auto kWearWarmUp = 5s;
constexpr uint64_t kDefaultDrainMessages = 500000;
constexpr std::size_t kDrainBurst = 10000;
constexpr auto kDrainLimit = 600s;
constexpr auto kDrainPoll = 20ms;

// What the process has caused to be written to storage so far.
uint64_t WrittenBytes(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string line;
    while (std::getline(io, line)) {
        if (line.rfind("write_bytes:", 0) == 0) {
            return std::stoull(line.substr(line.find(':') + 1));
        }
    }
    return 0;
}

uint64_t PayloadBytes(const std::vector<Message>& messages) {
    uint64_t bytes = 0;
    for (const Message& message : messages) {
        bytes += message.payload.size();
    }
    return bytes;
}

void DaemonFlashWear(benchmark::State& state) {
    for (auto _ : state) {
        EightReaderSite site;
        NotifySocket notify(site.directory.File("notify"));
        ChildProcess daemon({ZENDRIKD_PATH, "--config", site.config}, site.directory.File("zendrikd.log"),
                            {{"NOTIFY_SOCKET", notify.path()}});
        notify.WaitFor("READY=1", kStartLimit);
        std::this_thread::sleep_for(kWearWarmUp);
        const uint64_t writtenBefore = WrittenBytes(daemon.pid());
        const uint64_t payloadBefore = PayloadBytes(site.subscriber.messages());
        const auto measured =
            std::chrono::seconds{SecondsFrom("ZENDRIK_DAEMON_WEAR_SECONDS", kDefaultWearSeconds)};
        std::this_thread::sleep_for(measured);
        const uint64_t written = WrittenBytes(daemon.pid()) - writtenBefore;
        const std::vector<Message> messages = site.subscriber.messages();
        const uint64_t payload = PayloadBytes(messages) - payloadBefore;
        daemon.Stop();
        state.counters["written_bytes"] = static_cast<double>(written);
        state.counters["payload_bytes"] = static_cast<double>(payload);
        state.counters["written_per_payload"] =
            payload > 0 ? static_cast<double>(written) / static_cast<double>(payload) : 0;
        state.counters["reads_per_second"] = static_cast<double>(messages.size()) /
                                             std::chrono::duration<double>(measured + kWearWarmUp).count();
    }
}
BENCHMARK(DaemonFlashWear)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The spool an outage left behind, written as the daemon writes it.
void FillSpool(const std::string& path, uint64_t count) {
    zendrik::daemon::Spool spool(path, count);
    for (uint64_t done = 0; done < count;) {
        zendrik::daemon::Spool::Burst burst = spool.Begin();
        for (std::size_t i = 0; i < kDrainBurst && done < count; ++i, ++done) {
            burst.Add("r1", "zendrik/bench/r1/reads", [](uint64_t seq) {
                return R"({"event":"read","reader":"r1","seq":)" + std::to_string(seq) +
                       R"(,"time":"2026-12-09T10:00:00.000Z","epc":"e2003412012345678901000)" +
                       R"(1","rssi":-52,"antenna":1,"count":1})";
            });
        }
        burst.Commit();
    }
}

// The messages in the daemon's spool as its metrics say (nothing when it does not answer).
std::optional<uint64_t> SpooledNow(uint16_t httpPort) {
    static const std::regex spooled("\nzendrik_spool_messages ([0-9]+)");
    zendrik::testing::HttpConnection http(httpPort);
    const zendrik::testing::HttpReply reply = http.Request("GET", "/metrics");
    std::smatch match;
    if (reply.status != 200 || !std::regex_search(reply.body, match, spooled)) {
        return std::nullopt;
    }
    return std::stoull(match[1]);
}

void DaemonDrain(benchmark::State& state) {
    for (auto _ : state) {
        const uint64_t count = static_cast<uint64_t>(
            SecondsFrom("ZENDRIK_DAEMON_DRAIN_MESSAGES", static_cast<int>(kDefaultDrainMessages)));
        Broker broker;
        TemporaryDirectory directory;
        SilentUdpPort silent;
        const uint16_t httpPort = FreePort();
        const std::string config = BenchConfig(broker.port(), directory, {silent.address()}, httpPort);
        FillSpool(directory.File("spool.sqlite"), count);
        // From the start: the spool goes out while the silent reader is still being given up on.
        const auto start = std::chrono::steady_clock::now();
        ChildProcess daemon({ZENDRIKD_PATH, "--config", config}, directory.File("zendrikd.log"));
        uint64_t left = count;
        while (left > 0 && std::chrono::steady_clock::now() - start < kDrainLimit) {
            std::this_thread::sleep_for(kDrainPoll);
            left = SpooledNow(httpPort).value_or(left);
        }
        const double seconds = SecondsSince(start);
        const uint64_t sent = count - left;
        daemon.Stop();
        state.counters["messages"] = static_cast<double>(sent);
        state.counters["seconds"] = seconds;
        state.counters["messages_per_second"] = static_cast<double>(sent) / seconds;
    }
}
BENCHMARK(DaemonDrain)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
