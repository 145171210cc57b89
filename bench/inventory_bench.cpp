// The inventory's figures over each link, against the virtual reader run as its own program with
// a realistic inventory round time:
//   delivery: read events delivered by a running inventory over the reads the reader answered
//     with a tag (goal at least 0.95), and over the rounds the reader had time for, which also
//     counts what the host's own waits between rounds cost;
//   idle: the processor share of this process (the library alone: the reader runs elsewhere)
//     while an inventory runs on an empty field (goal at most 2 %).

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <string>
#include <thread>

#include "bench/sim_process.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::bench {
namespace {

using Stopwatch = std::chrono::steady_clock;

constexpr int kRoundTimeMs = 20;
constexpr std::chrono::seconds kRunTime{3};
constexpr int32_t kTakeWaitMs = 100;
constexpr const char* kTag = "E20034120137600000000001";
constexpr int kFieldTags = 3;
constexpr std::size_t kTagListBytes = 251;
constexpr double kMicrosecondsPerSecond = 1e6;
constexpr double kMillisecondsPerSecond = 1e3;
// Reading may start after opening has connected.
constexpr std::chrono::milliseconds kSettle{200};

SimProcess::Transport TransportOf(int64_t index) {
    switch (index) {
        case 0:
            return SimProcess::Transport::kUsb;
        case 1:
            return SimProcess::Transport::kUdp;
        default:
            return SimProcess::Transport::kSerial;
    }
}

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / kMicrosecondsPerSecond;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Opened {
    zendrik_reader* reader = nullptr;
    ~Opened() { zendrik_reader_close(reader); }
};

// Reads events for kRunTime; counts the reads.
uint64_t ReadsDuring(zendrik_reader* reader) {
    uint64_t reads = 0;
    const Stopwatch::time_point end = Stopwatch::now() + kRunTime;
    while (Stopwatch::now() < end) {
        zendrik_event event{};
        if (zendrik_next_event(reader, &event, sizeof event, kTakeWaitMs) == ZENDRIK_OK &&
            event.kind == ZENDRIK_EVENT_READ) {
            ++reads;
        }
    }
    return reads;
}

uint64_t ReadsQueued(zendrik_reader* reader) {
    uint64_t reads = 0;
    zendrik_event event{};
    while (zendrik_next_event(reader, &event, sizeof event, 0) == ZENDRIK_OK) {
        reads += event.kind == ZENDRIK_EVENT_READ ? 1 : 0;
    }
    return reads;
}

void Delivery(benchmark::State& state) {
    for (auto _ : state) {
        SimProcess sim(TransportOf(state.range(0)),
                       {"--round-time", std::to_string(kRoundTimeMs), "--tag", kTag});
        Opened opened;
        if (zendrik_reader_open(sim.address().c_str(), nullptr, &opened.reader) != ZENDRIK_OK) {
            state.SkipWithError("cannot open the virtual reader");
            return;
        }
        // Opening reads no tag, so every tag read the reader answered was the inventory's.
        const Stopwatch::time_point start = Stopwatch::now();
        zendrik_inventory_start(opened.reader, nullptr, nullptr, nullptr);
        const uint64_t delivered = ReadsDuring(opened.reader);
        zendrik_inventory_stop(opened.reader);
        const double seconds = std::chrono::duration<double>(Stopwatch::now() - start).count();
        // The round under way when the stop came is finished and its read queued.
        const uint64_t all = delivered + ReadsQueued(opened.reader);
        const auto answered = static_cast<double>(sim.Stop());
        state.SetIterationTime(seconds);
        const double rounds = seconds * kMillisecondsPerSecond / kRoundTimeMs;
        state.counters["delivered"] = static_cast<double>(all);
        state.counters["answered"] = answered;
        state.counters["delivered_per_answered"] = static_cast<double>(all) / answered;
        state.counters["delivered_per_round"] = static_cast<double>(all) / rounds;
    }
}

void IdleProcessorShare(benchmark::State& state) {
    for (auto _ : state) {
        SimProcess sim(TransportOf(state.range(0)), {"--round-time", std::to_string(kRoundTimeMs)});
        Opened opened;
        if (zendrik_reader_open(sim.address().c_str(), nullptr, &opened.reader) != ZENDRIK_OK) {
            state.SkipWithError("cannot open the virtual reader");
            return;
        }
        zendrik_inventory_start(opened.reader, nullptr, nullptr, nullptr);
        std::this_thread::sleep_for(kSettle);
        const double cpuBefore = ProcessCpuSeconds();
        const Stopwatch::time_point start = Stopwatch::now();
        std::this_thread::sleep_for(kRunTime);
        const double cpu = ProcessCpuSeconds() - cpuBefore;
        const double wall = std::chrono::duration<double>(Stopwatch::now() - start).count();
        zendrik_inventory_stop(opened.reader);
        state.SetIterationTime(wall);
        state.counters["cpu_per_wall"] = cpu / wall;
    }
}

// The two commands an inventory round could be: the one-tag read (0xF6) and the tag list (0xED),
// one round each per iteration over USB, with three tags in the field. The counters give the time
// per round and the EPC bytes each brings back.
void RoundOf(benchmark::State& state, bool tagList) {
    SimProcess sim(SimProcess::Transport::kUsb,
                   {"--round-time", std::to_string(kRoundTimeMs), "--tags", std::to_string(kFieldTags)});
    Opened opened;
    if (zendrik_reader_open(sim.address().c_str(), nullptr, &opened.reader) != ZENDRIK_OK) {
        state.SkipWithError("cannot open the virtual reader");
        return;
    }
    uint64_t epcBytes = 0;
    for (auto _ : state) {
        const Stopwatch::time_point start = Stopwatch::now();
        if (tagList) {
            uint8_t ids[kTagListBytes];
            size_t length = 0;
            zendrik_reader_read_tag_list(opened.reader, ids, sizeof ids, &length);
            epcBytes += length;
        } else {
            zendrik_event event{};
            if (zendrik_reader_read_tag(opened.reader, &event, sizeof event) == ZENDRIK_OK) {
                epcBytes += event.epc_length;
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(Stopwatch::now() - start).count());
    }
    state.counters["epc_bytes_per_round"] =
        benchmark::Counter(static_cast<double>(epcBytes), benchmark::Counter::kAvgIterations);
}

void OneTagRound(benchmark::State& state) {
    RoundOf(state, false);
}
void TagListRound(benchmark::State& state) {
    RoundOf(state, true);
}

// Arguments: 0 USB (virtual HID socket), 1 UDP, 2 serial (pseudo-terminal).
BENCHMARK(Delivery)->Name("inventory/delivery")->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Iterations(1);
BENCHMARK(OneTagRound)->Name("inventory/round/read_tag")->UseManualTime()->Iterations(50);
BENCHMARK(TagListRound)->Name("inventory/round/tag_list")->UseManualTime()->Iterations(50);
BENCHMARK(IdleProcessorShare)->Name("inventory/idle")->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Iterations(1);

}  // namespace
}  // namespace zendrik::bench
