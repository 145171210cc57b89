#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "daemon/backoff.h"
#include "daemon/config.h"
#include "daemon/event_source.h"
#include "daemon/mqtt_client.h"
#include "daemon/notify.h"
#include "daemon/payloads.h"
#include "daemon/spool.h"

namespace zendrik::daemon {

// Exit statuses of zendrikd.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;        // configuration, spool or a reader could not be set up
inline constexpr int kExitUsage = 2;          // the command line was refused
inline constexpr int kExitBrokerRefused = 3;  // the broker (or TLS) refused the connection

// Turns an event (its seq already the daemon's) into the payload published for it.
using EventRenderer = std::function<std::string(const zendrik_event&)>;

struct ReaderSlot {
    std::string name;
    std::unique_ptr<EventSource> source;
};

// The daemon's loop: one poll() over the readers' event descriptors, the MQTT socket, the stop
// descriptor and the timers. Events go into the spool first, one transaction per burst; the
// spool goes out to the broker oldest first, at most a window of messages unacknowledged.
class Daemon {
  public:
    Daemon(const DaemonConfig& config, std::vector<ReaderSlot> readers, EventRenderer render, Spool& spool,
           Notifier& notifier);

    // Runs until `stopFd` turns readable, then stops the readers, stores what they queued, sends
    // what it can within a short time, publishes the site "offline" and disconnects. Returns the
    // exit status. Throws when the spool fails (nothing could be stored any more).
    int Run(int stopFd);

  private:
    using Clock = std::chrono::steady_clock;

    struct Reader {
        std::string name;
        std::unique_ptr<EventSource> source;
        ReaderStatus status;
        uint64_t lostBeforeStore = 0;  // the source's drops already logged
    };

    void IdentifyAll();
    void Identify(Reader& reader);
    // Takes what the readers queued (at most `limit` events) into one spool transaction.
    std::size_t StoreEvents(std::size_t limit);
    void ConnectIfDue(Clock::time_point now);
    void AfterMqttService(Clock::time_point now);
    void OnConnected();
    void OnConnectionLost(Clock::time_point now);
    void SendFromSpool();
    void TakeAcknowledgements();
    void PublishSiteOnline();
    void PublishReaderStatus(Reader& reader);
    void PublishAllStatuses();
    void RunTimers(Clock::time_point now);
    int PollTimeoutMs(Clock::time_point now) const;
    void PollOnce(int stopFd, int timeoutMs, bool& stop);
    void Flush();
    std::string StatusLine() const;

    DaemonConfig config_;
    Topics topics_;
    std::vector<Reader> readers_;
    EventRenderer render_;
    Spool& spool_;
    Notifier& notifier_;
    MqttClient mqtt_;
    MqttState lastMqttState_ = MqttState::kDown;
    Backoff backoff_;
    std::unordered_map<int, int64_t> inFlight_;  // message id -> spool row
    int64_t startedMs_ = 0;
    Clock::time_point reconnectAt_;
    Clock::time_point connectDeadline_;
    Clock::time_point nextStatus_;
    Clock::time_point nextCheckpoint_;
    Clock::time_point nextWatchdog_;
    bool refused_ = false;
    std::optional<int> awaitedMid_;  // a publish whose acknowledgement the stop waits for
    bool awaitedAcknowledged_ = false;
};

}  // namespace zendrik::daemon
