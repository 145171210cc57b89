// The reader handle's queue and stream:
//   requests/latency: from zendrik_reader_submit to the request's completion taken from the stream,
//     over USB against the virtual reader run as its own program, with no inventory, with an
//     inventory on an empty field (the request comes between two rounds) and with one reading a
//     tag in 20 ms rounds back to back (it waits for the round under way);
//   events/take: events per second taken from a handle's queue of 10 000 with zendrik_next_event
//     one at a time, and with zendrik_next_events in batches of 64 (goal: at least 3 times as many).

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/sim_process.h"
#include "exports/zendrik_session.h"
#include "session/events.h"
#include "session/reader_handle.h"

namespace zendrik::bench {
namespace {

using Stopwatch = std::chrono::steady_clock;

constexpr int kRoundTimeMs = 20;
constexpr const char* kTag = "E20034120137600000000001";
constexpr int32_t kTakeWaitMs = 1000;
constexpr std::size_t kQueuedEvents = 10'000;
constexpr std::size_t kBatch = 64;

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
BENCHMARK(TakeOneByOne)->Name("events/take/single")->Unit(benchmark::kMillisecond);
BENCHMARK(TakeInBatches)->Name("events/take/batch")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zendrik::bench
