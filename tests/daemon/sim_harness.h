#pragma once

// What the tests of zendrikd as a program share: virtual readers (zendrik-sim on HID sockets) and
// the daemon itself with a notify socket of the test's own.
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/daemon/child_process.h"
#include "tests/daemon/notify_socket.h"

namespace zendrik::testing {

using namespace std::chrono_literals;

inline constexpr const char* kTag = "e2003412012345678901abcd";
inline constexpr auto kSocketWait = 10s;
inline constexpr auto kReadyWait = 10s;
inline constexpr int kRoundTimeMs = 10;

// A virtual reader on a HID socket, with a serial number of its own and one tag in its field (or
// the tags given).
class VirtualReader {
  public:
    // `arguments` go to zendrik-sim as well (a scene to play).
    VirtualReader(const TemporaryDirectory& directory, const std::string& name, const std::string& serial,
                  std::vector<std::string> tags = {kTag}, std::vector<std::string> arguments = {})
        : socket_(directory.File(name + ".sock")),
          log_(directory.File(name + ".log")),
          serial_(serial),
          tags_(std::move(tags)),
          arguments_(std::move(arguments)) {
        Plug();
    }

    void Plug() {
        std::filesystem::remove(socket_);
        std::vector<std::string> argv{ZENDRIK_SIM_PATH,
                                      "--hid-socket",
                                      socket_,
                                      "--serial",
                                      serial_,
                                      "--round-time",
                                      std::to_string(kRoundTimeMs)};
        for (const std::string& tag : tags_) {
            argv.insert(argv.end(), {"--tag", tag});
        }
        argv.insert(argv.end(), arguments_.begin(), arguments_.end());
        process_ = std::make_unique<ChildProcess>(argv, log_);
        (void)WaitForFile(socket_, kSocketWait);  // a reader that never listens fails its test later
    }
    void Unplug() { process_.reset(); }
    std::string address() const { return "usb:" + socket_; }

  private:
    std::string socket_;
    std::string log_;
    std::string serial_;
    std::vector<std::string> tags_;
    std::vector<std::string> arguments_;
    std::unique_ptr<ChildProcess> process_;
};

// zendrikd with a notify socket of the test's own; started when made.
class Zendrikd {
  public:
    Zendrikd(const std::string& config, const TemporaryDirectory& directory,
             std::map<std::string, std::string> environment = {},
             const std::vector<std::string>& arguments = {})
        : notify_(directory.File("notify-" + std::to_string(++starts_))),
          log_(directory.File("zendrikd.log")) {
        environment["NOTIFY_SOCKET"] = notify_.path();
        std::vector<std::string> argv{ZENDRIKD_PATH, "--config", config};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        process_ = std::make_unique<ChildProcess>(argv, log_, environment);
    }
    bool Ready() { return Notified("READY=1"); }
    bool Notified(const std::string& text) { return notify_.WaitFor(text, kReadyWait); }
    // Every notification up to the first that holds `text` (the last one; none when it came not).
    std::vector<std::string> NotificationsUntil(const std::string& text) {
        std::vector<std::string> seen;
        const auto end = std::chrono::steady_clock::now() + kReadyWait;
        while (std::chrono::steady_clock::now() < end) {
            seen.push_back(notify_.Next(std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now())));
            if (seen.back().find(text) != std::string::npos) {
                return seen;
            }
        }
        return {};
    }
    ChildProcess& process() { return *process_; }
    std::string log() const { return ReadFile(log_); }

  private:
    static inline int starts_ = 0;
    NotifySocket notify_;
    std::string log_;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace zendrik::testing
