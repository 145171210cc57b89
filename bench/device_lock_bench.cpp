// What the device lock adds to every USB exchange: finding the lock file of a virtual device,
// opening it, taking the flock and letting it go again. An exchange itself waits 10 ms or more for
// its reply, so the lock should cost a few microseconds, well under 1 % of it.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "link/clock.h"
#include "link/device_lock.h"
#include "link/unique_fd.h"
#include "sim/temp_dir.h"

namespace zendrik {
namespace {

constexpr Milliseconds kPatience{1000};

// A bound Unix socket, so that the path is a virtual device as the library sees it.
UniqueFd BindSocket(const std::string& path) {
    UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), std::min(path.size(), sizeof(address.sun_path) - 1));
    if (!socket || ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return {};
    }
    return socket;
}

void DeviceLockAcquireRelease(benchmark::State& state) {
    const sim::TempDir directory;
    const std::string path = directory.path() + "/reader.sock";
    const UniqueFd device = BindSocket(path);
    if (!device) {
        state.SkipWithError("cannot bind the device socket");
        return;
    }
    SystemClock clock;
    for (auto _ : state) {
        const std::optional<DeviceLockFile> file = LockFileOfDevice(path);
        const std::optional<DeviceLock> lock = DeviceLock::Acquire(*file, clock, kPatience);
        benchmark::DoNotOptimize(lock->held());
    }
}

BENCHMARK(DeviceLockAcquireRelease)->Name("device_lock/acquire_release")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zendrik
