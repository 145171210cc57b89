// The reader handle's queue and stream:
//   requests/latency: from zendrik_reader_submit to the request's completion taken from the stream,
//     over USB against the virtual reader run as its own program, with no inventory, with an
//     inventory on an empty field (the request comes between two rounds) and with one reading a
//     tag in 20 ms rounds back to back (it waits for the round under way);
//   requests/submit: how long zendrik_reader_submit holds the caller's thread (p50, p99, max) while
//     slow inventory rounds run (400 ms), beside how long those requests took to complete;
//   events/take: events per second taken from a handle's queue of 10 000 with zendrik_next_event
//     one at a time, and with zendrik_next_events in batches of 16, whose 8 KiB of records stay in the
//     first-level cache (goal: at least 3 times as many; batches of 64 ran at two thirds of the speed).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench/percentile.h"
#include "bench/sim_process.h"
#include "session/events.h"
#include "session/reader_handle.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::bench {
namespace {

using Stopwatch = std::chrono::steady_clock;

constexpr int kRoundTimeMs = 20;
constexpr const char* kTag = "E20034120137600000000001";
constexpr int32_t kTakeWaitMs = 1000;
constexpr std::size_t kQueuedEvents = 10'000;
constexpr std::size_t kBatch = 16;

struct Opened {
    zendrik_reader* reader = nullptr;
    ~Opened() { zendrik_reader_close(reader); }
};

// Waits for the completion of request `id`, taking what comes before it.
bool AwaitCompletion(zendrik_reader* reader, uint64_t id) {
    std::vector<zendrik_event> events(kBatch);
    for (;;) {
        size_t got = 0;
        if (zendrik_next_events(reader, events.data(), sizeof events[0], events.size(), &got, kTakeWaitMs) !=
            ZENDRIK_OK) {
            return false;
        }
        for (std::size_t i = 0; i < got; ++i) {
            if (events[i].kind == ZENDRIK_EVENT_COMPLETED && events[i].request_id == id) {
                return true;
            }
        }
    }
}

// 0: no inventory; 1: an inventory on an empty field; 2: an inventory reading a tag.
void RequestLatency(benchmark::State& state) {
    const int64_t setting = state.range(0);
    std::vector<std::string> arguments{"--round-time", std::to_string(kRoundTimeMs)};
    if (setting == 2) {
        arguments.insert(arguments.end(), {"--tag", kTag});
    }
    SimProcess sim(SimProcess::Transport::kUsb, arguments);
    Opened opened;
    if (zendrik_reader_open(sim.address().c_str(), nullptr, &opened.reader) != ZENDRIK_OK) {
        state.SkipWithError("cannot open the virtual reader");
        return;
    }
    if (setting > 0) {
        zendrik_inventory_start(opened.reader, nullptr, nullptr, nullptr);
    }
    zendrik_request request;
    zendrik_request_init(&request, ZENDRIK_REQUEST_INFO);
    for (auto _ : state) {
        const Stopwatch::time_point start = Stopwatch::now();
        uint64_t id = 0;
        if (zendrik_reader_submit(opened.reader, &request, &id) != ZENDRIK_OK ||
            !AwaitCompletion(opened.reader, id)) {
            state.SkipWithError("the request did not complete");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(Stopwatch::now() - start).count());
    }
}

constexpr int kSlowRoundTimeMs = 400;
constexpr int kSubmits = 48;
constexpr std::chrono::milliseconds kSubmitSpacing{23};  // not a divisor of the round: every phase of it

double Milliseconds(Stopwatch::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Identity reads submitted every 23 ms while the inventory runs 400 ms rounds: the time each
// submit takes in the caller's thread, and from each submit to its completion taken.
void SubmitDuringSlowRounds(benchmark::State& state) {
    SimProcess sim(SimProcess::Transport::kUsb,
                   {"--round-time", std::to_string(kSlowRoundTimeMs), "--tag", kTag});
    Opened opened;
    if (zendrik_reader_open(sim.address().c_str(), nullptr, &opened.reader) != ZENDRIK_OK ||
        zendrik_inventory_start(opened.reader, nullptr, nullptr, nullptr) != ZENDRIK_OK) {
        state.SkipWithError("cannot open the virtual reader");
        return;
    }
    zendrik_request request;
    zendrik_request_init(&request, ZENDRIK_REQUEST_INFO);
    std::vector<double> submitMs;
    std::vector<double> completionMs;
    for (auto _ : state) {
        std::vector<Stopwatch::time_point> submitted(kSubmits + 1);
        std::vector<uint64_t> ids;
        for (int i = 0; i < kSubmits; ++i) {
            uint64_t id = 0;
            const Stopwatch::time_point start = Stopwatch::now();
            const int32_t result = zendrik_reader_submit(opened.reader, &request, &id);
            const Stopwatch::time_point end = Stopwatch::now();
            if (result != ZENDRIK_OK) {
                state.SkipWithError("a submit was refused");
                return;
            }
            submitMs.push_back(Milliseconds(end - start));
            submitted.resize(std::max<std::size_t>(submitted.size(), id + 1));
            submitted[id] = start;
            ids.push_back(id);
            std::this_thread::sleep_for(kSubmitSpacing);
        }
        std::vector<zendrik_event> events(kBatch);
        for (std::size_t completed = 0; completed < ids.size();) {
            size_t got = 0;
            if (zendrik_next_events(opened.reader, events.data(), sizeof events[0], events.size(), &got,
                                    kTakeWaitMs) != ZENDRIK_OK) {
                state.SkipWithError("a request did not complete");
                return;
            }
            const Stopwatch::time_point taken = Stopwatch::now();
            for (std::size_t e = 0; e < got; ++e) {
                if (events[e].kind == ZENDRIK_EVENT_COMPLETED && events[e].request_id < submitted.size()) {
                    completionMs.push_back(Milliseconds(taken - submitted[events[e].request_id]));
                    ++completed;
                }
            }
        }
    }
    state.counters["submit_p50_ms"] = Percentile(submitMs, 0.50);
    state.counters["submit_p99_ms"] = Percentile(submitMs, 0.99);
    state.counters["submit_max_ms"] = Percentile(submitMs, 1.0);
    state.counters["completion_p50_ms"] = Percentile(completionMs, 0.50);
    state.counters["completion_max_ms"] = Percentile(completionMs, 1.0);
}

// A handle whose reader is absent (opened by name, so nothing is asked of it), its queue filled
// directly with reads, as a running inventory would have queued them.
class QueuedReads {
  public:
    QueuedReads() {
        zendrik_open_options options;
        zendrik_open_options_init(&options);
        options.name = "bench";
        options.flags = ZENDRIK_OPEN_ABSENT_OK;
        zendrik_reader_open("usb:/nonexistent/zendrik-bench.sock", &options, &opened_.reader);
        opened_.reader->queue.SetCapacity(kQueuedEvents + 1);
    }

    zendrik_reader* reader() const { return opened_.reader; }

    void Fill() {
        const std::vector<uint8_t> epc{0xE2, 0x00, 0x34, 0x12, 0x01, 0x37,
                                       0x60, 0x00, 0x00, 0x00, 0x00, 0x01};
        const session::Presence presence{1, 0, 0, {}, "00000001"};
        for (std::size_t i = 0; i < kQueuedEvents; ++i) {
            opened_.reader->queue.Push(session::TagEvent(ZENDRIK_EVENT_READ, 0, epc, presence, 1, 0xC4));
        }
    }

  private:
    Opened opened_;
};

void TakeOneByOne(benchmark::State& state) {
    QueuedReads queued;
    zendrik_event event;
    for (auto _ : state) {
        state.PauseTiming();
        queued.Fill();
        state.ResumeTiming();
        for (std::size_t i = 0; i < kQueuedEvents; ++i) {
            zendrik_next_event(queued.reader(), &event, sizeof event, 0);
        }
        // The link-lost the stream began with is taken in the first round, and counts there.
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kQueuedEvents));
}

void TakeInBatches(benchmark::State& state) {
    QueuedReads queued;
    std::vector<zendrik_event> events(kBatch);
    for (auto _ : state) {
        state.PauseTiming();
        queued.Fill();
        state.ResumeTiming();
        for (std::size_t taken = 0; taken < kQueuedEvents;) {
            size_t got = 0;
            zendrik_next_events(queued.reader(), events.data(), sizeof events[0], events.size(), &got, 0);
            taken += got;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kQueuedEvents));
}

BENCHMARK(RequestLatency)->Name("requests/latency")->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Iterations(200);
BENCHMARK(SubmitDuringSlowRounds)->Name("requests/submit")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(TakeOneByOne)->Name("events/take/single")->Unit(benchmark::kMillisecond);
BENCHMARK(TakeInBatches)->Name("events/take/batch")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zendrik::bench
