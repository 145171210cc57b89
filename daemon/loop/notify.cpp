#include "daemon/loop/notify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace zendrik::daemon {

namespace {
// Pinging at a third of the watchdog time leaves two chances before systemd gives up.
constexpr uint64_t kPingsPerWatchdogTime = 3;
constexpr uint64_t kMicrosecondsPerMs = 1000;
}  // namespace

Notifier::Notifier() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        const uint64_t periodMs = usec / kPingsPerWatchdogTime / kMicrosecondsPerMs;
        watchdogPeriod_ = std::chrono::milliseconds{periodMs > 0 ? periodMs : 1};
    }
}

void Notifier::Send(const std::string& state) {
    // sd_notify is a no-op returning 0 without NOTIFY_SOCKET; a failure to reach systemd is not
    // worth stopping for, so its result is left alone.
    (void)sd_notify(0, state.c_str());
}

void Notifier::Ready(const std::string& status) {
    status_ = status;
    Send("READY=1\nSTATUS=" + status);
}

void Notifier::Status(const std::string& status) {
    if (status != status_) {
        status_ = status;
        Send("STATUS=" + status);
    }
}

void Notifier::Watchdog() {
    Send("WATCHDOG=1");
}

void Notifier::Stopping(const std::string& status) {
    status_ = status;
    Send("STOPPING=1\nSTATUS=" + status);
}

}  // namespace zendrik::daemon
