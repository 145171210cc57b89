// One exchange over each link through the shared library (UhfGetWorkMode, a plain command of one
// request and one reply), against a baseline that does the same transport work with no protocol
// logic, both against the virtual reader served in-process. The counters give both times and their
// ratio; scripts/bench prints them.
//
// The USB exchange waits 10 ms before its first poll and 2 ms between polls; those waits are the
// link's design, not protocol logic, so the baseline waits alike (RawHidSocket). Without them the
// baseline would time only socket calls, and the ratio would measure the waits rather than the
// library's cost.

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <span>

#include "bench/raw_transports.h"
#include "zendrik/zendrik.h"
#include "sim/endpoint.h"
#include "sim/hid_socket_server.h"
#include "sim/pty_server.h"
#include "sim/reader.h"
#include "sim/temp_dir.h"
#include "sim/udp_server.h"

namespace zendrik::bench {
namespace {

constexpr uint8_t kAnyReader = 0xFF;
// UhfGetWorkMode to address 255, and the virtual reader's answer from its factory address 1:
// status 200, one data byte (work mode 0).
constexpr std::array<uint8_t, 8> kGetWorkModeRequest{0xAA, 0xFF, 0xEB, 0x00, 0x00, 0x40, 0x20, 0x55};
constexpr std::size_t kReplySize = 9;
constexpr int32_t kPtyPortIndex = 19;
constexpr const char* kPtyPortVariable = "ZENDRIK_COM20";
constexpr const char* kHidSocketVariable = "ZENDRIK_HID_SOCKET";
constexpr int32_t kBaud = 115200;
constexpr const char* kLoopback = "127.0.0.1";
constexpr double kMicrosecondsPerSecond = 1e6;

sim::Responder AnswerWith(sim::Reader& reader) {
    return [&reader](std::span<const uint8_t> request) { return reader.Answer(request); };
}

using Stopwatch = std::chrono::steady_clock;

bool LibraryRoundTrip() {
    uint8_t mode = 0;
    const bool answered = UhfGetWorkMode(kAnyReader, &mode) == ZENDRIK_OK;
    benchmark::DoNotOptimize(mode);
    return answered;
}

template <typename Transport>
bool BaselineRoundTrip(Transport& transport) {
    std::array<uint8_t, kReplySize> reply{};
    const bool answered = transport.RoundTrip(kGetWorkModeRequest, reply) == reply.size();
    benchmark::DoNotOptimize(reply);
    return answered;
}

template <typename Action>
double SecondsOf(Action&& action, bool& ok) {
    const Stopwatch::time_point start = Stopwatch::now();
    ok = action();
    return std::chrono::duration<double>(Stopwatch::now() - start).count();
}

// The library's exchange and the baseline's by turns, in alternating order, so that both meet the
// same load from the rest of the machine; a ratio of two separate runs would mostly measure how
// that load changed between them. The iteration time is the library's.
template <typename Transport>
void RoundTrips(benchmark::State& state, Transport& baseline) {
    double librarySeconds = 0;
    double baselineSeconds = 0;
    bool libraryFirst = true;
    for (auto _ : state) {
        bool libraryOk = false;
        bool baselineOk = false;
        double library = 0;
        if (libraryFirst) {
            library = SecondsOf(LibraryRoundTrip, libraryOk);
            baselineSeconds += SecondsOf([&] { return BaselineRoundTrip(baseline); }, baselineOk);
        } else {
            baselineSeconds += SecondsOf([&] { return BaselineRoundTrip(baseline); }, baselineOk);
            library = SecondsOf(LibraryRoundTrip, libraryOk);
        }
        if (!libraryOk || !baselineOk) {
            state.SkipWithError(libraryOk ? "baseline got no whole reply" : "UhfGetWorkMode failed");
            return;
        }
        librarySeconds += library;
        state.SetIterationTime(library);
        libraryFirst = !libraryFirst;
    }
    using benchmark::Counter;
    state.counters["library_us"] = Counter(librarySeconds * kMicrosecondsPerSecond, Counter::kAvgIterations);
    state.counters["baseline_us"] =
        Counter(baselineSeconds * kMicrosecondsPerSecond, Counter::kAvgIterations);
    state.counters["ratio"] = librarySeconds / baselineSeconds;
}

// Both sides use one pseudo-terminal and so one server thread: two servers would give each side a
// thread of its own, whose placement on the processors biases one side by more than the library's
// own cost. The baseline opens the terminal first, since the library's open makes it exclusive.
void SerialRoundTrip(benchmark::State& state) {
    sim::Reader reader;
    const sim::PtyServer server(AnswerWith(reader));
    RawSerialPort port(server.path());
    ::setenv(kPtyPortVariable, server.path().c_str(), 1);
    if (OpenCom(kPtyPortIndex, kBaud) != ZENDRIK_OK) {
        state.SkipWithError("OpenCom failed");
        return;
    }
    RoundTrips(state, port);
    CloseCom();
}

void UsbRoundTrip(benchmark::State& state) {
    const sim::TempDir directory;
    sim::Reader reader;
    const sim::HidSocketServer server(AnswerWith(reader), directory.path() + "/reader.sock");
    ::setenv(kHidSocketVariable, server.path().c_str(), 1);
    if (OpenCom(ZENDRIK_USB_PORT, kBaud) != ZENDRIK_OK) {
        state.SkipWithError("OpenCom(100) failed");
        return;
    }
    RawHidSocket device(server.path());
    RoundTrips(state, device);
}

void UdpRoundTrip(benchmark::State& state) {
    sim::Reader reader;
    const sim::UdpServer server(AnswerWith(reader), sim::Ipv4Endpoint{kLoopback, 0});
    if (Net_Connect(kLoopback, 0, kLoopback, server.port()) != ZENDRIK_OK) {
        state.SkipWithError("Net_Connect failed");
        return;
    }
    RawUdpSocket socket(server.port());
    RoundTrips(state, socket);
}

BENCHMARK(SerialRoundTrip)->Name("round_trip/serial")->UseManualTime()->MinTime(2.0);
BENCHMARK(UsbRoundTrip)->Name("round_trip/usb")->UseManualTime()->MinTime(4.0);
BENCHMARK(UdpRoundTrip)->Name("round_trip/udp")->UseManualTime()->MinTime(2.0);

}  // namespace
}  // namespace zendrik::bench
