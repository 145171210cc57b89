// The processor time the whole process spends during a UhfGetOutPower that takes the 1100 ms
// settle wait after a handshake, over its wall time. The library sleeps until a deadline instead
// of spinning, so the share should stay near zero. The virtual reader's threads live in this
// process too and are counted: they block in poll while nothing arrives.

#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdlib>

#include "zendrik/zendrik.h"
#include "sim/hid_socket_server.h"
#include "sim/reader.h"
#include "sim/temp_dir.h"

namespace zendrik::bench {
namespace {

constexpr uint8_t kAnyReader = 0xFF;
constexpr const char* kHidSocketVariable = "ZENDRIK_HID_SOCKET";
constexpr double kNanosecondsPerSecond = 1e9;

double SecondsOn(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / kNanosecondsPerSecond;
}

void SettledOutputPower(benchmark::State& state) {
    const sim::TempDir directory;
    sim::Reader reader;
    const sim::HidSocketServer server(
        [&reader](std::span<const uint8_t> request) { return reader.Answer(request); },
        directory.path() + "/reader.sock");
    ::setenv(kHidSocketVariable, server.path().c_str(), 1);
    if (OpenCom(ZENDRIK_USB_PORT, 0) != ZENDRIK_OK) {
        state.SkipWithError("OpenCom(100) failed");
        return;
    }
    double cpuSeconds = 0;
    double wallSeconds = 0;
    for (auto _ : state) {
        uint8_t kind = 0;
        uint8_t low = 0;
        if (Handshake(kAnyReader, 1, &kind, &low) != ZENDRIK_OK) {  // sets the settle flag
            state.SkipWithError("Handshake failed");
            return;
        }
        const double cpuBefore = SecondsOn(CLOCK_PROCESS_CPUTIME_ID);
        const double wallBefore = SecondsOn(CLOCK_MONOTONIC);
        uint8_t power = 0;
        const int32_t result = UhfGetOutPower(kAnyReader, &power);
        const double wall = SecondsOn(CLOCK_MONOTONIC) - wallBefore;
        const double cpu = SecondsOn(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
        if (result != ZENDRIK_OK) {
            state.SkipWithError("UhfGetOutPower failed");
            return;
        }
        state.SetIterationTime(wall);
        cpuSeconds += cpu;
        wallSeconds += wall;
    }
    state.counters["cpu_per_wall"] = cpuSeconds / wallSeconds;
    state.counters["cpu_ms"] = benchmark::Counter(cpuSeconds * 1000, benchmark::Counter::kAvgIterations);
}

// Only the UhfGetOutPower is timed; the handshake before it is not.
BENCHMARK(SettledOutputPower)->Name("settle/usb/get_out_power")->UseManualTime()->Iterations(3);

}  // namespace
}  // namespace zendrik::bench
