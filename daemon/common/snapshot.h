#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "daemon/common/histogram.h"

namespace zendrik::daemon {

// What the daemon knows at one moment, copied out of its parts so that the HTTP side renders its
// answers (health, metrics, the readers' statuses) as pure functions of a value.
struct ReaderSnapshot {
    std::string name;
    std::string address;
    bool linkUp = false;
    bool inventoryRunning = true;
    std::string
        statusJson;  // the reader's MQTT status payload as it would be published now; empty before the first
    uint64_t reads = 0;      // read events the reader gave
    uint64_t published = 0;  // events that passed the filters and went into the spool
    uint64_t linkLosses = 0;
    uint64_t spooled = 0;
    uint64_t dropped = 0;  // lost for good: a full spool, a queue that overflowed
    uint64_t dead = 0;     // moved to the dead-letter table (the broker would not take them)
    uint64_t expired = 0;  // of the dropped: older than the spool's max_age, since the start
    std::map<std::string, uint64_t> eventsByKind;  // "read", "arrived", ... -> count
    std::optional<bool> settingsInSync;            // nothing for a reader without [reader.settings]
    std::string managedJson;                       // [reader.settings] as a JSON object; empty for none
    std::string managedSourcesJson;                // where each of them comes from: {"power":"reader",…}
    Histogram roundSeconds;                        // inventory round times
};

// A tag in a zone now.
struct ZoneTagSnapshot {
    std::string epc;
    std::string card;  // empty for none
    int64_t sinceMs = 0;
    int64_t lastSeenMs = 0;
    std::string lastReader;
    uint64_t reads = 0;
};

struct ZoneSnapshot {
    std::string name;
    std::vector<std::string> readers;
    std::vector<ZoneTagSnapshot> tags;  // oldest visit first
};

// A door's passages since the daemon started.
struct DoorSnapshot {
    std::string name;
    uint64_t passagesIn = 0;
    uint64_t passagesOut = 0;
};

// One output of the site: the MQTT uplink ("mqtt") or a webhook, with its place in the spool.
struct OutputSnapshot {
    std::string name;
    std::string kind;          // "mqtt" or "webhook"
    std::string state;         // mqtt: "connected", "connecting", "down", "refused"; webhook: "idle",
                               // "gathering", "sending", "retrying"
    std::string target;        // the broker's address or the webhook's URL
    uint64_t sent = 0;         // events acknowledged
    uint64_t pending = 0;      // rows of the spool after its place
    uint64_t deadLetters = 0;  // events it would never take
    std::map<std::string, uint64_t> errors;  // reason -> failed attempts
    std::string lastError;                   // the last failure's words; empty once delivered again
    int64_t retryInMs = -1;                  // while retrying: until the next attempt
    Histogram seconds;                       // from an event's store to its acknowledgement
};

struct SiteSnapshot {
    std::string site;
    std::string commands = "off";  // [control] commands: "off", "read-only" or "all"
    bool mqttEnabled = true;       // false for a site with webhooks only
    bool mqttConnected = false;
    bool spoolWritable = true;  // false while the spool cannot store (a full disk)
    uint64_t spoolMessages = 0;
    Histogram publishSeconds;    // from a read's time to the broker's acknowledgement
    Histogram loopStallSeconds;  // each turn of the daemon's loop, from work found to the next wait
    double longestLoopStallSeconds = 0;
    std::vector<ReaderSnapshot> readers;
    std::vector<ZoneSnapshot> zones;
    std::vector<DoorSnapshot> doors;
    std::optional<uint64_t> historyRows;  // visits and passages kept; nothing without a history
    uint64_t historyDropped = 0;          // dropped for their age or the history's size
    std::vector<OutputSnapshot> outputs;  // the uplink first (when there is one), then the webhooks
};

}  // namespace zendrik::daemon
