// A command's way through zendrikd while its readers inventory: eight virtual readers on 20 ms
// rounds, the daemon and a mosquitto. The time from a request to its reply, p50 and p99:
// - over MQTT, {"command":"get-settings"} published on r1's cmd topic until its reply arrives;
// - over HTTP, PUT /api/v1/readers/r1/settings {"power":…} until its answer has been read;
// each against the same request to a virtual reader of its own, with no inventory and no daemon,
// through the reader-session API directly (zendrik_reader_call): the plain median. Goal: p50 within
// 15 ms and p99 within 40 ms of the plain median.
// ZENDRIK_DAEMON_COMMANDS sets the number of requests of each kind (default 200).
#include <benchmark/benchmark.h>
#include <zendrik_session.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/daemon_harness.h"
#include "tests/daemon/broker.h"
#include "tests/daemon/http_client.h"
#include "tests/daemon/notify_socket.h"
#include "tests/support/loopback.h"

namespace zendrik::bench {
namespace {

using namespace std::chrono_literals;
using Stopwatch = std::chrono::steady_clock;
using testing::Broker;
using testing::FreePort;
using testing::HttpConnection;
using testing::Message;
using testing::NotifySocket;
using testing::Subscriber;

constexpr int kReaders = 8;
constexpr int kRoundTimeMs = 20;
constexpr int kDefaultRequests = 200;
// Not a divisor of the round: the requests fall on every phase of it.
constexpr auto kRequestSpacing = 37ms;
constexpr auto kStartLimit = 60s;
constexpr auto kWarmUp = 2s;
constexpr auto kReplyLimit = 30s;
constexpr unsigned kHttpOk = 200;
// The plain reader's number among the virtual readers: apart from the daemon's r1..r8.
constexpr int kPlainReaderIndex = 99;
// The powers set in turn: both within every reader kind's range.
constexpr std::array kPowers{20, 26};
const std::string kReplyTopic = "zendrik/bench/r1/reply";
const std::string kCommandTopic = "zendrik/bench/r1/cmd";
const std::string kSettingsPath = "/api/v1/readers/r1/settings";

double Milliseconds(Stopwatch::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

int RequestCount() {
    return SecondsFrom("ZENDRIK_DAEMON_COMMANDS", kDefaultRequests);
}

// A reader handle closed when it goes.
struct OpenedReader {
    explicit OpenedReader(const std::string& address) {
        if (zendrik_reader_open(address.c_str(), nullptr, &reader) != ZENDRIK_OK) {
            reader = nullptr;
        }
    }
    ~OpenedReader() { zendrik_reader_close(reader); }
    OpenedReader(const OpenedReader&) = delete;
    OpenedReader& operator=(const OpenedReader&) = delete;

    zendrik_reader* reader = nullptr;
};

// The request's durations through the session API on a virtual reader of its own (no inventory).
std::vector<double> PlainDurations(int32_t kind, bool setsPower) {
    TemporaryDirectory directory;
    const auto sim = StartVirtualReader(directory, kPlainReaderIndex, kRoundTimeMs, {},
                                        directory.File("plain-reader.log"));
    OpenedReader opened("usb:" + directory.File("reader-" + std::to_string(kPlainReaderIndex)));
    std::vector<double> durations;
    if (opened.reader == nullptr) {
        return durations;
    }
    for (int i = 0; i < RequestCount(); ++i) {
        const std::string assignment = "power=" + std::to_string(kPowers[i % kPowers.size()]);
        const char* assignments[] = {assignment.c_str()};
        zendrik_request request;
        zendrik_request_init(&request, kind);
        if (setsPower) {
            request.assignments = assignments;
            request.assignment_count = 1;
        }
        zendrik_event completion{};
        const Stopwatch::time_point start = Stopwatch::now();
        const int32_t code = zendrik_reader_call(opened.reader, &request, &completion, sizeof completion);
        durations.push_back(Milliseconds(Stopwatch::now() - start));
        if (code != ZENDRIK_OK) {
            return {};
        }
    }
    return durations;
}

// A broker, eight virtual readers inventorying and the daemon with commands and HTTP, READY.
struct CommandSite {
    CommandSite()
        : config(BenchConfig(broker.port(), directory,
                             StartVirtualReaders(directory, kReaders, kRoundTimeMs, readers), httpPort)) {
        std::ofstream(config, std::ios::app) << "[control]\ncommands = \"all\"\n";
        NotifySocket notify(directory.File("notify"));
        daemon = std::make_unique<ChildProcess>(
            std::vector<std::string>{ZENDRIKD_PATH, "--config", config}, directory.File("zendrikd.log"),
            std::map<std::string, std::string>{{"NOTIFY_SOCKET", notify.path()}});
        notify.WaitFor("READY=1", kStartLimit);
        std::this_thread::sleep_for(kWarmUp);
    }
    ~CommandSite() { daemon->Stop(); }

    Broker broker{"allow_anonymous true"};
    TemporaryDirectory directory;
    std::vector<std::unique_ptr<ChildProcess>> readers;
    const uint16_t httpPort = FreePort();
    const std::string config;
    std::unique_ptr<ChildProcess> daemon;
};

bool HasReply(const std::vector<Message>& messages, const std::string& id) {
    const std::string wanted = "\"id\":\"" + id + "\"";
    return std::any_of(messages.begin(), messages.end(), [&](const Message& message) {
        return message.payload.find(wanted) != std::string::npos &&
               message.payload.find("\"ok\":true") != std::string::npos;
    });
}

std::vector<double> MqttDurations(CommandSite& site) {
    Subscriber replies(site.broker.port(), kReplyTopic);
    std::vector<double> durations;
    for (int i = 0; i < RequestCount(); ++i) {
        const std::string id = "bench-" + std::to_string(i);
        const Stopwatch::time_point start = Stopwatch::now();
        replies.Publish(kCommandTopic, R"({"id":")" + id + R"(","command":"get-settings"})");
        if (!replies.WaitFor([&](const std::vector<Message>& messages) { return HasReply(messages, id); },
                             kReplyLimit)) {
            return {};
        }
        durations.push_back(Milliseconds(Stopwatch::now() - start));
        std::this_thread::sleep_for(kRequestSpacing);
    }
    return durations;
}

std::vector<double> HttpDurations(CommandSite& site) {
    HttpConnection connection(site.httpPort, kReplyLimit);
    std::vector<double> durations;
    for (int i = 0; i < RequestCount(); ++i) {
        const std::string body = R"({"power":)" + std::to_string(kPowers[i % kPowers.size()]) + "}";
        const Stopwatch::time_point start = Stopwatch::now();
        if (connection.Request("PUT", kSettingsPath, {}, body).status != kHttpOk) {
            return {};
        }
        durations.push_back(Milliseconds(Stopwatch::now() - start));
        std::this_thread::sleep_for(kRequestSpacing);
    }
    return durations;
}

void Report(benchmark::State& state, const std::vector<double>& plain, const std::vector<double>& daemon) {
    if (plain.empty() || daemon.empty()) {
        state.SkipWithError("a request did not get its answer");
        return;
    }
    const double plainMedian = Percentile(plain, 0.50);
    state.counters["plain_p50_ms"] = plainMedian;
    state.counters["p50_ms"] = Percentile(daemon, 0.50);
    state.counters["p99_ms"] = Percentile(daemon, 0.99);
    state.counters["max_ms"] = Percentile(daemon, 1.0);
    state.counters["p50_over_plain_ms"] = Percentile(daemon, 0.50) - plainMedian;
    state.counters["p99_over_plain_ms"] = Percentile(daemon, 0.99) - plainMedian;
    state.counters["requests"] = static_cast<double>(daemon.size());
}

void MqttGetSettings(benchmark::State& state) {
    for (auto _ : state) {
        const std::vector<double> plain = PlainDurations(ZENDRIK_REQUEST_READ_SETTINGS, false);
        CommandSite site;
        Report(state, plain, MqttDurations(site));
    }
}
BENCHMARK(MqttGetSettings)
    ->Name("command/mqtt_get_settings")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void HttpPutSettings(benchmark::State& state) {
    for (auto _ : state) {
        const std::vector<double> plain = PlainDurations(ZENDRIK_REQUEST_CONFIGURE, true);
        CommandSite site;
        Report(state, plain, HttpDurations(site));
    }
}
BENCHMARK(HttpPutSettings)
    ->Name("command/http_put_settings")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace zendrik::bench

BENCHMARK_MAIN();
