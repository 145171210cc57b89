#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace zendrik::daemon {

// Tells systemd how the daemon is doing (READY=1, STATUS=, WATCHDOG=1, STOPPING=1). Without
// NOTIFY_SOCKET in the environment every call does nothing.
class Notifier {
  public:
    Notifier();

    void Ready(const std::string& status);
    // Sends STATUS= only when the text changed.
    void Status(const std::string& status);
    void Watchdog();
    void Stopping(const std::string& status);

    // How often to ping the watchdog: a third of WATCHDOG_USEC, or nothing when no watchdog is set.
    std::optional<std::chrono::milliseconds> watchdogPeriod() const { return watchdogPeriod_; }

  private:
    void Send(const std::string& state);

    std::optional<std::chrono::milliseconds> watchdogPeriod_;
    std::string status_;
};

}  // namespace zendrik::daemon
