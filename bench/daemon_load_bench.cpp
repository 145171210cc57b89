// zendrikd under load, each figure against a mosquitto of its own.
// Ceiling: N virtual readers that answer every round at once, each with 64 tags in its field, the
// daemon, the broker and one subscriber to the reads. Counters, over the measured window: reads a
// second that reached the subscriber, reads a second the daemon took from its readers, what was
// left in the spool at the end of the window, reads lost (answered by the readers and never
// delivered, once the spool has drained) and the daemon's processor time per read delivered: in
// all, in its reader threads (each tag read is an exchange with a reader over its link) and in
// the rest of the daemon (events into the spool, batches, MQTT, HTTP). The
// virtual readers run nicer than the daemon (see StartVirtualReader), as readers would on
// processors of their own.
// ZENDRIK_DAEMON_CEILING_SECONDS sets the window (default 30: with 10, two runs differed by a tenth).
// Places: the same ceiling with eight readers, once as they are and once under two zones and two
// doors ([[zone]] and [[door]] over the eight), in one run: the zones' and doors' work on every
// read, and the history of their visits and passages, must cost the ceiling at most a tenth.
// Batches: eight readers of 64 tags whose every tag read takes 1 ms (so at most 8 000 reads a second
// offered: the counter offered_per_s), once with every read a message of its own
// ([publish] batch_ms = 0) and once in batches (batch_ms = 100); beside the ceiling's counters,
// the reads a second the virtual readers answered from the daemon's start to their stop, the bound
// a batched run may meet when the daemon is no longer the slower side. Readers that answer as fast
// as they are asked outran an unbatched daemon on a loaded machine (45 000 a second answered
// against 1 200 delivered) until their queues dropped four fifths of the reads: that measured
// the bench's overdrive rather than the batches. An unbatched daemon that still falls behind the
// stated rate loses reads; they are counted (lost), and scripts/bench names the bound.
// Loop stall: eight readers on 25 ms rounds while a ninth is unplugged and plugged in again
// (its virtual reader ended and started anew) every 300 ms; the turns of the daemon's loop in that
// time from its zendrik_loop_stall_seconds histogram: the 99th percentile (as the bucket bound it
// falls under), the count of turns over 5 ms and the longest bucket reached.
// ZENDRIK_DAEMON_STALL_SECONDS sets the time (default 15).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <thread>

#include "bench/daemon_harness.h"
#include "daemon/common/histogram.h"
#include "session/reader_actor.h"
#include "tests/daemon/broker.h"
#include "tests/support/loopback.h"

namespace zendrik::bench {
namespace {

using namespace std::chrono_literals;
using testing::Broker;
using testing::FreePort;

// The broker keeps every message for the subscriber however far it falls behind: the figures
// count the daemon's losses, not the broker's.
const std::string kBrokerConfig = "allow_anonymous true\nmax_queued_messages 0";
constexpr int kDefaultCeilingSeconds = 30;
const std::string kSpooled = "zendrik_spool_messages";
const std::string kLongestStall = "zendrik_loop_stall_longest_seconds";
constexpr int kDefaultStallSeconds = 15;
const std::vector<std::string> kManyTags{"--tags", "64"};
// A virtual reader's round time delays each of its answers to a tag read, one tag each.
constexpr int kBatchRoundMs = 1;
constexpr auto kWarmUp = 2s;
constexpr auto kStartLimit = 60s;
constexpr auto kDrainLimit = 120s;
constexpr auto kDrainPoll = 100ms;
// What the broker has taken reaches the subscriber within this time.
constexpr auto kDrainQuiet = 1s;
constexpr int kSteadyReaders = 8;
constexpr int kSteadyRoundMs = 25;
constexpr auto kFlapPause = 300ms;
constexpr double kStallGoalSeconds = 0.005;
constexpr double kPercentile = 0.99;
constexpr double kMicrosecondsPerSecond = 1e6;

// Waits until the counter has every answered read, or the daemon's spool is empty and nothing more
// arrives, or the limit passes.
void WaitForDrain(ReadCounter& counter, uint64_t answered, uint16_t httpPort) {
    const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
    auto lastArrival = std::chrono::steady_clock::now();
    uint64_t last = counter.distinct();
    while (last < answered && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kDrainPoll);
        if (const uint64_t now = counter.distinct(); now != last) {
            last = now;
            lastArrival = std::chrono::steady_clock::now();
            continue;
        }
        if (std::chrono::steady_clock::now() - lastArrival < kDrainQuiet) {
            continue;
        }
        const std::map<std::string, double> metrics = ScrapeMetrics(httpPort);
        const auto spooled = metrics.find(kSpooled);
        if (spooled != metrics.end() && spooled->second == 0) {
            return;
        }
    }
}

// A broker, virtual readers and the configuration of a site with HTTP; the daemon once Start()ed.
struct LoadedSite {
    LoadedSite(int readerCount, int roundTimeMs, const std::vector<std::string>& extra,
               const std::string& tables = "")
        : config(BenchConfig(broker.port(), directory,
                             StartVirtualReaders(directory, readerCount, roundTimeMs, readers, extra),
                             httpPort, tables)) {}

    // Runs the daemon until it is READY and a little longer, so that every reader has begun.
    void Start() {
        daemon = StartReadyDaemon(config, directory, kStartLimit);
        std::this_thread::sleep_for(kWarmUp);
    }

    Broker broker{kBrokerConfig};
    TemporaryDirectory directory;
    std::vector<std::unique_ptr<ChildProcess>> readers;
    const uint16_t httpPort = FreePort();
    const std::string config;
    std::unique_ptr<ChildProcess> daemon;
};

// The ceiling's counters for one site of `readerCount` readers on rounds of `roundTimeMs` (0: each
// answers as soon as it is asked) with the configuration's `tables`.
// The ceiling's readers answer every round at once: the daemon, not they, should be the bound.
constexpr int kAnswerAtOnceMs = 0;

void MeasureCeiling(benchmark::State& state, int readerCount, int roundTimeMs, const std::string& tables) {
    const auto window =
        std::chrono::seconds{SecondsFrom("ZENDRIK_DAEMON_CEILING_SECONDS", kDefaultCeilingSeconds)};
    for (auto _ : state) {
        LoadedSite site(readerCount, roundTimeMs, kManyTags, tables);
        ReadCounter counter(site.broker.port());  // before the daemon: every read counts
        const auto started = std::chrono::steady_clock::now();
        site.Start();
        const pid_t daemon = site.daemon->pid();
        const uint16_t httpPort = site.httpPort;

        const double cpuBefore = CpuSeconds(daemon);
        const ThreadCpuSeconds splitBefore = CpuSecondsByThreadName(daemon, session::kReaderThreadName);
        const uint64_t deliveredBefore = counter.received();
        const double takenBefore = SumOf(ScrapeMetricsWith(httpPort, kSpooled), "zendrik_reads_total");
        std::this_thread::sleep_for(window);
        const double cpu = CpuSeconds(daemon) - cpuBefore;
        const ThreadCpuSeconds split = CpuSecondsByThreadName(daemon, session::kReaderThreadName);
        const auto delivered = static_cast<double>(counter.received() - deliveredBefore);
        const std::map<std::string, double> after = ScrapeMetricsWith(httpPort, kSpooled);

        uint64_t answered = 0;
        for (int i = 0; i < readerCount; ++i) {
            site.readers[static_cast<std::size_t>(i)]->Stop();
            answered += AnsweredReads(site.directory.File("reader-" + std::to_string(i + 1) + ".log"));
        }
        const double answering =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        WaitForDrain(counter, answered, httpPort);
        site.daemon->Stop();

        const double seconds = std::chrono::duration<double>(window).count();
        state.counters["delivered_per_s"] = delivered / seconds;
        state.counters["taken_per_s"] = (SumOf(after, "zendrik_reads_total") - takenBefore) / seconds;
        state.counters["answered_per_s"] = static_cast<double>(answered) / answering;
        state.counters["spooled"] = SumOf(after, "zendrik_spool_messages");
        state.counters["answered"] = static_cast<double>(answered);
        state.counters["lost"] = static_cast<double>(answered) - static_cast<double>(counter.distinct());
        const auto perRead = [&](double seconds) {
            return delivered > 0 ? seconds / delivered * kMicrosecondsPerSecond : 0;
        };
        state.counters["cpu_us_per_read"] = perRead(cpu);
        state.counters["reader_cpu_us_per_read"] = perRead(split.named - splitBefore.named);
        state.counters["own_cpu_us_per_read"] = perRead(split.others - splitBefore.others);
    }
}

void DaemonCeiling(benchmark::State& state) {
    MeasureCeiling(state, static_cast<int>(state.range(0)), kAnswerAtOnceMs, "");
}
BENCHMARK(DaemonCeiling)->Arg(2)->Arg(8)->Arg(32)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Two zones of four readers each, and a door between two readers of each zone.
const std::string kPlaces =
    "[[zone]]\nname = \"dock\"\nreaders = [\"r1\", \"r2\", \"r3\", \"r4\"]\nabsence_ms = 3000\n"
    "[[zone]]\nname = \"yard\"\nreaders = [\"r5\", \"r6\", \"r7\", \"r8\"]\nabsence_ms = 3000\n"
    "[[door]]\nname = \"gate\"\noutside = [\"r5\"]\ninside = [\"r1\"]\nsettle_ms = 2000\n"
    "[[door]]\nname = \"ramp\"\noutside = [\"r6\"]\ninside = [\"r2\"]\nsettle_ms = 2000\n";

// The argument: 0 for the readers alone, 1 for them under the zones and doors.
void DaemonPlacesCeiling(benchmark::State& state) {
    MeasureCeiling(state, kSteadyReaders, kAnswerAtOnceMs, state.range(0) != 0 ? kPlaces : "");
}
BENCHMARK(DaemonPlacesCeiling)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The argument is batch_ms.
void DaemonBatches(benchmark::State& state) {
    MeasureCeiling(state, kSteadyReaders, kBatchRoundMs,
                   "[publish]\nbatch_ms = " + std::to_string(state.range(0)) + "\n");
    constexpr double kMillisecondsPerSecond = 1000;
    state.counters["offered_per_s"] = kSteadyReaders * kMillisecondsPerSecond / kBatchRoundMs;
}
BENCHMARK(DaemonBatches)->Arg(0)->Arg(100)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A bucket's bound as the exposition writes it: the shortest text that reads back as the number.
std::string BoundText(double bound) {
    std::array<char, 32> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), bound);
    return std::string(text.data(), written.ptr);
}

// The stall histogram's count per bucket between two scrapes.
std::array<double, daemon::Histogram::kBounds.size() + 1> StallBuckets(
    const std::map<std::string, double>& before, const std::map<std::string, double>& after) {
    std::array<double, daemon::Histogram::kBounds.size() + 1> buckets{};
    double below = 0;
    for (std::size_t i = 0; i < buckets.size(); ++i) {
        std::string bound = "+Inf";
        if (i < daemon::Histogram::kBounds.size()) {
            bound = BoundText(daemon::Histogram::kBounds[i]);
        }
        const std::string sample = "zendrik_loop_stall_seconds_bucket{le=\"" + bound + "\"}";
        const double cumulative = after.at(sample) - before.at(sample);
        buckets[i] = cumulative - below;
        below = cumulative;
    }
    return buckets;
}

void DaemonLoopStall(benchmark::State& state) {
    const auto flapping =
        std::chrono::seconds{SecondsFrom("ZENDRIK_DAEMON_STALL_SECONDS", kDefaultStallSeconds)};
    for (auto _ : state) {
        LoadedSite site(kSteadyReaders + 1, kSteadyRoundMs, {});
        site.Start();
        const TemporaryDirectory& directory = site.directory;
        const uint16_t httpPort = site.httpPort;

        const std::map<std::string, double> before = ScrapeMetricsWith(httpPort, kLongestStall);
        std::unique_ptr<ChildProcess>& flapper = site.readers.back();
        const auto end = std::chrono::steady_clock::now() + flapping;
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(kFlapPause);
            flapper.reset();
            std::this_thread::sleep_for(kFlapPause);
            flapper = StartVirtualReader(directory, kSteadyReaders + 1, kSteadyRoundMs, {},
                                         directory.File("reader-flapping.log"));
        }
        const std::map<std::string, double> after = ScrapeMetricsWith(httpPort, kLongestStall);
        site.daemon->Stop();
        if (before.count(kLongestStall) == 0 || after.count(kLongestStall) == 0) {
            state.SkipWithError(("the daemon did not answer GET /metrics (" + std::to_string(before.size()) +
                                 " samples before, " + std::to_string(after.size()) + " after)")
                                    .c_str());
            break;
        }

        const auto buckets = StallBuckets(before, after);
        double turns = 0;
        for (const double count : buckets) {
            turns += count;
        }
        double cumulative = 0;
        double percentileBound = HUGE_VAL;
        double worstBound = 0;
        double overGoal = 0;
        for (std::size_t i = 0; i < buckets.size(); ++i) {
            const double bound =
                i < daemon::Histogram::kBounds.size() ? daemon::Histogram::kBounds[i] : HUGE_VAL;
            cumulative += buckets[i];
            if (cumulative >= kPercentile * turns && percentileBound == HUGE_VAL) {
                percentileBound = bound;
            }
            worstBound = buckets[i] > 0 ? bound : worstBound;
            overGoal += bound > kStallGoalSeconds ? buckets[i] : 0;
        }
        state.counters["turns"] = turns;
        state.counters["p99_under_ms"] = percentileBound * 1000;
        state.counters["over_5ms"] = overGoal;
        state.counters["worst_under_ms"] = worstBound * 1000;
        state.counters["longest_ms"] = after.at(kLongestStall) * 1000;
        state.counters["link_losses"] = after.at("zendrik_link_losses_total{reader=\"r9\"}") -
                                        before.at("zendrik_link_losses_total{reader=\"r9\"}");
    }
}
BENCHMARK(DaemonLoopStall)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace zendrik::bench

BENCHMARK_MAIN();
