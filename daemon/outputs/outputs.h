#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "daemon/common/snapshot.h"
#include "daemon/config/config.h"
#include "daemon/loop/event_loop.h"
#include "daemon/outputs/curl_multi.h"
#include "daemon/outputs/store_times.h"
#include "daemon/outputs/webhook.h"
#include "daemon/store/spool.h"

namespace zendrik::daemon {

// The site's webhooks beside the MQTT uplink, on one curl multi handle on the loop. The spool is
// one log: the uplink takes its rows through the hand-over and acknowledges them, each webhook reads
// from a place of its own, and the spool holds every row from the lowest webhook's place on, so that
// a row goes only when every output has it. A webhook that is down holds the rows back; the uplink
// and the other webhooks go on. Without an uplink (a site of webhooks only) the hand-over is
// acknowledged here at once, and the webhooks' hold alone keeps the rows.
class Outputs {
  public:
    // Throws std::runtime_error naming the output whose secret file cannot be read.
    Outputs(EventLoop& loop, Spool& spool, const std::vector<WebhookConfig>& webhooks, bool uplinkTakesRows);
    ~Outputs();
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;

    // Rows were committed: each webhook begins a batch when it can.
    void Pump();
    std::vector<OutputSnapshot> Snapshot() const;

  private:
    void TakeHandOver();
    void PlaceMoved();

    Spool& spool_;
    bool uplinkTakesRows_;
    CurlMulti curl_;
    StoreTimes storeTimes_;
    std::vector<std::unique_ptr<Webhook>> webhooks_;
    Timer housekeeping_;
    bool released_ = false;  // a place moved on since the held rows were last deleted
};

// The secret a webhook signs with: the file's bytes without a line end at their end (as `echo`
// writes one). Throws std::runtime_error when the file cannot be read.
std::string ReadSecretFile(const std::string& path);

}  // namespace zendrik::daemon
