// A command's way through zendrikd while its readers inventory: eight virtual readers on 20 ms
// rounds, the daemon and a mosquitto. The time from a request to its reply, p50 and p99:
// - over MQTT, {"command":"get-settings"} published on r1's cmd topic until its reply arrives;
// - over HTTP, PUT /api/v1/readers/r1/settings {"power":…} until its answer has been read;
// each against the same request to a virtual reader of its own, with no inventory and no daemon,
// through the reader-session API directly (zendrik_reader_call): the plain median. Goal: p50 within
// 15 ms and p99 within 40 ms of the plain median.
// ZENDRIK_DAEMON_COMMANDS sets the number of requests of each kind (default 200); ZENDRIKD_PROGRAM
// names another zendrikd to measure (an earlier build, to compare with).
#include <benchmark/benchmark.h>
#include <zendrik_session.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/daemon_harness.h"
#include "bench/percentile.h"
#include "tests/daemon/broker.h"
#include "tests/daemon/http_client.h"
#include "tests/support/loopback.h"

namespace zendrik::bench {
namespace {

using namespace std::chrono_literals;
using Stopwatch = std::chrono::steady_clock;
using testing::Broker;
using testing::FreePort;
using testing::HttpConnection;
using testing::Message;
using testing::Subscriber;

constexpr int kReaders = 8;
constexpr int kRoundTimeMs = 20;
constexpr int kDefaultRequests = 200;
// Counted from each request's start rather than from its reply, longer than any reply takes and not a
// multiple of the round: a request sent right after the reply before it falls on the same phase of the
// reader's round every time (the round that follows a served request starts with its reply), and the
// figure would be the wait of that one phase rather than that of requests arriving independently of
// the rounds.
constexpr auto kRequestSpacing = 77ms;
constexpr auto kStartLimit = 60s;
constexpr auto kWarmUp = 2s;
constexpr auto kReplyLimit = 30s;
constexpr int kHttpOk = 200;
// The plain reader's number among the virtual readers: apart from the daemon's r1..r8.
constexpr int kPlainReaderIndex = 99;
// The powers set in turn: both within every reader kind's range.
constexpr std::array kPowers{20, 26};
// Without set_tcp_nodelay the broker holds a request for the daemon behind the acknowledgements of
// its readings that are still on their way (Nagle's algorithm), for the daemon's delayed ACK:
// 30 ms more at the median, the broker's and not the daemon's. ZENDRIK_BROKER_NAGLE=1 leaves it on.
const std::string kBrokerConfig = std::getenv("ZENDRIK_BROKER_NAGLE") != nullptr
                                      ? "allow_anonymous true"
                                      : "allow_anonymous true\nset_tcp_nodelay true";
const std::string kReplyTopic = "zendrik/bench/r1/reply";
const std::string kCommandTopic = "zendrik/bench/r1/cmd";
const std::string kSettingsPath = "/api/v1/readers/r1/settings";

double Milliseconds(Stopwatch::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The daemon measured: the one built with the benchmark, unless ZENDRIKD_PROGRAM names another.
std::string DaemonProgram() {
    const char* program = std::getenv("ZENDRIKD_PROGRAM");
    return program != nullptr ? program : ZENDRIKD_PATH;
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
std::vector<double> PlainDurations(int32_t kind, bool setsPower, int& failures) {
    TemporaryDirectory directory;
    const auto sim = StartVirtualReader(directory, kPlainReaderIndex, kRoundTimeMs, {},
                                        directory.File("plain-reader.log"));
    OpenedReader opened("usb:" + directory.File("reader-" + std::to_string(kPlainReaderIndex)));
    std::vector<double> durations;
    if (opened.reader == nullptr) {
        std::fprintf(stderr, "the reader of its own could not be opened\n");
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
        if (code != ZENDRIK_OK) {
            // A virtual reader on a loaded machine may miss an answer now and then: counted apart.
            std::fprintf(stderr, "plain request: %s (%d)\n", zendrik_result_text(code), code);
            ++failures;
            continue;
        }
        durations.push_back(Milliseconds(Stopwatch::now() - start));
    }
    return durations;
}

// A broker, eight virtual readers inventorying and the daemon with commands and HTTP, READY.
struct CommandSite {
    CommandSite()
        : config(BenchConfig(broker.port(), directory,
                             StartVirtualReaders(directory, kReaders, kRoundTimeMs, readers), httpPort)) {
        std::ofstream(config, std::ios::app) << "[control]\ncommands = \"all\"\n";
        daemon = StartReadyDaemon(config, directory, kStartLimit, DaemonProgram());
        std::this_thread::sleep_for(kWarmUp);
    }
    ~CommandSite() { daemon->Stop(); }

    Broker broker{kBrokerConfig};
    TemporaryDirectory directory;
    std::vector<std::unique_ptr<ChildProcess>> readers;
    const uint16_t httpPort = FreePort();
    const std::string config;
    std::unique_ptr<ChildProcess> daemon;
};

// The reply to `id` among the messages; nothing before it came.
std::optional<std::string> ReplyTo(const std::vector<Message>& messages, const std::string& id) {
    const std::string wanted = "\"id\":\"" + id + "\"";
    for (const Message& message : messages) {
        if (message.payload.find(wanted) != std::string::npos) {
            return message.payload;
        }
    }
    return std::nullopt;
}

std::vector<double> MqttDurations(CommandSite& site, int& refused) {
    Subscriber replies(site.broker.port(), kReplyTopic);
    std::vector<double> durations;
    for (int i = 0; i < RequestCount(); ++i) {
        const std::string id = "bench-" + std::to_string(i);
        const Stopwatch::time_point start = Stopwatch::now();
        replies.Publish(kCommandTopic, R"({"id":")" + id + R"(","command":"get-settings"})");
        std::optional<std::string> reply;
        replies.WaitFor(
            [&](const std::vector<Message>& messages) {
                reply = ReplyTo(messages, id);
                return reply.has_value();
            },
            kReplyLimit);
        if (!reply) {
            std::fprintf(stderr, "get-settings %s: no reply\n", id.c_str());
            return {};
        }
        if (reply->find("\"ok\":true") == std::string::npos) {
            // The virtual reader missed an answer (a loaded machine): counted apart, as for the plain.
            std::fprintf(stderr, "get-settings %s: %s\n", id.c_str(), reply->c_str());
            ++refused;
            continue;
        }
        durations.push_back(Milliseconds(Stopwatch::now() - start));
        std::this_thread::sleep_until(start + kRequestSpacing);
    }
    return durations;
}

std::vector<double> HttpDurations(CommandSite& site, int& refused) {
    HttpConnection connection(site.httpPort, kReplyLimit);
    std::vector<double> durations;
    for (int i = 0; i < RequestCount(); ++i) {
        const std::string body = R"({"power":)" + std::to_string(kPowers[i % kPowers.size()]) + "}";
        const Stopwatch::time_point start = Stopwatch::now();
        const testing::HttpReply reply = connection.Request("PUT", kSettingsPath, {}, body);
        if (reply.status == 0) {
            std::fprintf(stderr, "PUT %s: no answer\n", kSettingsPath.c_str());
            return {};
        }
        if (reply.status != kHttpOk) {
            std::fprintf(stderr, "PUT %s: %d %s\n", kSettingsPath.c_str(), reply.status, reply.body.c_str());
            ++refused;
            continue;
        }
        durations.push_back(Milliseconds(Stopwatch::now() - start));
        std::this_thread::sleep_until(start + kRequestSpacing);
    }
    return durations;
}

void Report(benchmark::State& state, const std::vector<double>& plain, const std::vector<double>& daemon) {
    if (plain.empty() || daemon.empty()) {
        state.SkipWithError(plain.empty() ? "a request to the reader of its own failed"
                                          : "a request to zendrikd did not get its answer");
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

// One figure: the request through the daemon over one edge against the same request on a reader of
// its own.
template <typename Durations>
void CommandFigure(benchmark::State& state, int32_t plainRequest, bool plainSetsPower,
                   Durations throughDaemon) {
    for (auto _ : state) {
        int failures = 0;
        const std::vector<double> plain = PlainDurations(plainRequest, plainSetsPower, failures);
        CommandSite site;
        int refused = 0;
        Report(state, plain, throughDaemon(site, refused));
        state.counters["plain_failed"] = failures;
        state.counters["refused"] = refused;
    }
}

void MqttGetSettings(benchmark::State& state) {
    CommandFigure(state, ZENDRIK_REQUEST_READ_SETTINGS, false, MqttDurations);
}
BENCHMARK(MqttGetSettings)
    ->Name("command/mqtt_get_settings")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void HttpPutSettings(benchmark::State& state) {
    CommandFigure(state, ZENDRIK_REQUEST_CONFIGURE, true, HttpDurations);
}
BENCHMARK(HttpPutSettings)
    ->Name("command/http_put_settings")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace zendrik::bench

BENCHMARK_MAIN();
