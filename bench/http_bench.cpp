// zendrikd's HTTP server against a site of 32 readers on loopback: requests a second to /metrics
// and /api/v1/readers over one kept-alive connection, and the delay from an event handed to the
// server to its arrival at an event-stream client (p50, p99; the goal for a read to its client is
// p99 <= 20 ms, of which this is the HTTP part).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/percentile.h"
#include "tests/daemon/http_client.h"
#include "tests/daemon/http_harness.h"

namespace {

using namespace std::chrono_literals;
using zendrik::bench::Percentile;
using zendrik::testing::EventStreamClient;
using zendrik::testing::HttpConnection;
using zendrik::testing::ServerUnderTest;

constexpr int kReaders = 32;
constexpr int kStreamEvents = 5000;
constexpr auto kStreamGap = 200us;  // 5000 events a second

zendrik::daemon::SiteSnapshot Site() {
    zendrik::daemon::SiteSnapshot site;
    site.site = "bench";
    site.mqttConnected = true;
    for (int i = 0; i < kReaders; ++i) {
        zendrik::daemon::ReaderSnapshot reader;
        reader.name = "gate-" + std::to_string(i);
        reader.address = "usb:/dev/hidraw" + std::to_string(i);
        reader.linkUp = true;
        reader.reads = 1000u * static_cast<uint64_t>(i);
        reader.statusJson =
            R"({"state":"online","time":"2026-01-01T00:00:00.000Z","kind":0,"version":"1.4",)"
            R"("serial":"A)" +
            std::to_string(i) +
            R"(","reads":1000,"published":1000,"spooled":0,"dropped":0,"dead":0,"spool":"ok",)"
            R"("inventory":"running","settings":"in-sync","error":null})";
        reader.eventsByKind = {{"read", 1000}, {"arrived", 10}, {"departed", 9}};
        reader.settingsInSync = true;
        for (int round = 0; round < 100; ++round) {
            reader.roundSeconds.Observe(0.02 + round * 0.0001);
        }
        site.readers.push_back(reader);
    }
    return site;
}

void Requests(benchmark::State& state, const std::string& path) {
    ServerUnderTest server({}, {}, Site());
    HttpConnection connection(server.port());
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto reply = connection.Request("GET", path);
        if (reply.status != 200) {
            state.SkipWithError("no answer");
            return;
        }
        bytes += reply.body.size();
    }
    state.counters["requests_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["body_bytes"] = static_cast<double>(bytes / std::max<std::size_t>(state.iterations(), 1));
}

void Metrics(benchmark::State& state) {
    Requests(state, "/metrics");
}
void Readers(benchmark::State& state) {
    Requests(state, "/api/v1/readers");
}

void StreamLatency(benchmark::State& state) {
    ServerUnderTest server({}, {}, Site());
    for (auto _ : state) {
        EventStreamClient client(server.port(), "/api/v1/events", {});
        client.WaitFor([](const EventStreamClient& c) { return c.status() == 200; });
        std::vector<std::chrono::steady_clock::time_point> sent(kStreamEvents);
        for (int i = 0; i < kStreamEvents; ++i) {
            server.loop().Post([&, i] {
                sent[i] = std::chrono::steady_clock::now();
                const std::string reader = "gate-" + std::to_string(i % kReaders);
                server.server().PublishEvent(reader, i + 1, "read",
                                             R"({"event":"read","reader":")" + reader + R"(","seq":)" +
                                                 std::to_string(i + 1) +
                                                 R"(,"epc":"e2003412012345678901abcd"})");
            });
            std::this_thread::sleep_for(kStreamGap);
        }
        if (!client.WaitFor([](const EventStreamClient& c) { return c.frames().size() == kStreamEvents; })) {
            state.SkipWithError("events missing");
            return;
        }
        std::vector<double> delays;
        for (int i = 0; i < kStreamEvents; ++i) {
            delays.push_back(
                std::chrono::duration<double, std::milli>(client.frames()[i].received - sent[i]).count());
        }
        state.counters["p50_ms"] = Percentile(delays, 0.5);
        state.counters["p99_ms"] = Percentile(delays, 0.99);
    }
}

BENCHMARK(Metrics)->Name("http/metrics")->MinTime(2.0)->UseRealTime();
BENCHMARK(Readers)->Name("http/readers")->MinTime(2.0)->UseRealTime();
BENCHMARK(StreamLatency)
    ->Name("http/stream_latency")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
