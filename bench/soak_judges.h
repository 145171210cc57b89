#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "tests/daemon/child_process.h"
#include "tests/daemon/webhook_server.h"

// The consumers that judge a soak of zendrikd: `zendrik listen` on the broker for the whole run,
// a webhook receiver that keeps every body it accepted, and `zendrik listen` over those bodies at
// the end. The listener checks every number of every stream; the soak compares its counts with
// what the virtual readers answered.
namespace zendrik::bench {

using testing::ChildProcess;
using testing::TemporaryDirectory;

// What `zendrik listen` made of a site's streams: its exit status and, from the lines it printed,
// the reads it gave (each reader and number once), the other numbered events, and the numbers of
// its {"gap":...} and {"lost":...} lines.
struct ListenVerdict {
    int exitStatus = -1;
    uint64_t reads = 0;
    uint64_t otherEvents = 0;
    uint64_t gapLines = 0;
    uint64_t gapNumbers = 0;
    uint64_t lostLines = 0;
    uint64_t lostNumbers = 0;
};

// `zendrik listen --strict` on the site "bench" at the broker on `brokerPort`, in a persistent
// session of a client id of its own; returns once the broker has confirmed its subscriptions (its
// state file is written then), so that it hears everything the daemon publishes after.
class BrokerListener {
  public:
    BrokerListener(uint16_t brokerPort, const TemporaryDirectory& directory);
    // Ends it as Ctrl-C would (or finds it ended: --strict ends at the first gap) and reads what
    // it printed.
    ListenVerdict Stop();

  private:
    std::string output_;
    std::unique_ptr<ChildProcess> process_;
};

// tests/daemon/webhook_server.py on 127.0.0.1 over plain HTTP, answering 200 to every request and
// keeping every body in a file of its own.
class WebhookReceiver {
  public:
    explicit WebhookReceiver(const TemporaryDirectory& directory);

    std::string url() const { return "http://127.0.0.1:" + std::to_string(server_.port()) + "/reads"; }
    const std::string& bodies() const { return bodies_; }
    // The distinct reads (reader and number) in the bodies so far, and the bodies: the file is
    // read on from where the last call left it.
    uint64_t reads();
    uint64_t requests();

  private:
    void ReadOn();

    std::string bodies_;
    testing::WebhookServer server_;
    std::size_t readUpTo_ = 0;
    uint64_t requests_ = 0;
    std::set<std::pair<std::string, uint64_t>> reads_;
};

// `zendrik listen --webhook-file BODIES --strict`, run to its end.
ListenVerdict CheckWebhookBodies(const std::string& bodies, const TemporaryDirectory& directory);

}  // namespace zendrik::bench
