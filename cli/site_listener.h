#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cli/stream_check.h"

namespace zendrik::cli {

struct ListenOptions {
    std::string host;
    uint16_t port = 0;
    std::string site;
    std::string prefix = "zendrik";
    std::string clientId;   // empty: zendrik-listen-SITE
    std::string stateFile;  // empty: no state kept across runs
    double gapWaitSeconds = 30;
};

// "mqtt://HOST[:PORT]" -> host and port; nothing for any other text.
std::optional<std::pair<std::string, uint16_t>> ParseBrokerUrl(const std::string& url);

// Follows a site's numbered streams (readers' reads and events, zones' events, doors' passages) in
// a persistent MQTT session (the fixed client id, clean session off, QoS 1 subscriptions), so that the
// broker keeps what comes while the listener is away, and hands every line of the checker to `give`
// until `keepGoing` says no or `give` returns false. The state file carries each stream's place
// across runs: rewritten after every message, synced to the disk once a second. Returns an error's
// words, or nothing after a clean end.
std::optional<std::string> ListenToSite(const ListenOptions& options, StreamChecker& checker,
                                        const std::function<bool(const Json& line)>& give,
                                        const std::function<bool()>& keepGoing);

}  // namespace zendrik::cli
