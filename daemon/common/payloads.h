#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik::daemon {

// The topics of one site: PREFIX/SITE/status, and per reader PREFIX/SITE/READER/{reads,events,status}.
class Topics {
  public:
    Topics(std::string prefix, std::string site);

    std::string Reads(const std::string& reader) const { return ReaderLevel(reader).append(kReadsLevel); }
    // A reader's reads topic (a reader's name holds no '/', so no other topic ends so).
    static bool IsReads(std::string_view topic) { return topic.ends_with(kReadsLevel); }
    std::string Command(const std::string& reader) const { return ReaderLevel(reader) + "/cmd"; }
    std::string Reply(const std::string& reader) const { return ReaderLevel(reader) + "/reply"; }
    // Every reader's command topic: PREFIX/SITE/+/cmd.
    std::string AllCommands() const { return siteLevel_ + "/+/cmd"; }
    // The reader a command topic names; empty for a topic of another kind or site.
    std::string ReaderOfCommand(const std::string& topic) const;
    std::string Events(const std::string& reader) const { return ReaderLevel(reader) + "/events"; }
    std::string ReaderStatus(const std::string& reader) const { return ReaderLevel(reader) + "/status"; }
    const std::string& SiteStatus() const { return siteStatus_; }
    // The audit trail's entries: PREFIX/SITE/audit.
    std::string Audit() const { return siteLevel_ + "/audit"; }
    // A zone's events and a door's passages: PREFIX/SITE/zones/ZONE/events, PREFIX/SITE/doors/DOOR/passages.
    std::string ZoneEvents(const std::string& zone) const {
        return siteLevel_ + "/zones/" + zone + "/events";
    }
    std::string DoorPassages(const std::string& door) const {
        return siteLevel_ + "/doors/" + door + "/passages";
    }

    // Where an event of `kind` (a zendrik_event_kind) goes: reads apart from everything else.
    std::string ForEvent(const std::string& reader, int32_t kind) const;

  private:
    static constexpr std::string_view kReadsLevel = "/reads";

    std::string ReaderLevel(const std::string& reader) const { return siteLevel_ + "/" + reader; }

    std::string siteLevel_;
    std::string siteStatus_;
};

// Milliseconds since 1970 now.
int64_t UnixNowMs();

// What the daemon knows about one reader for its retained status.
struct ReaderStatus {
    bool linkUp = false;
    int64_t timeMs = 0;  // when this status is published
    std::optional<int32_t> kind;
    std::optional<std::string> version;
    std::optional<std::string> serial;
    uint64_t reads = 0;                  // read events stored since the daemon started
    uint64_t spooled = 0;                // its messages still in the spool
    uint64_t dropped = 0;                // its messages a full spool had to drop
    uint64_t dead = 0;                   // its messages the broker would not take (in the dead-letter table)
    std::string deadReason;              // why the last of them went there (empty: none did since the start)
    bool spoolFull = false;              // the spool's disk has no room: messages go straight to the broker
    bool offline = false;                // the daemon has stopped: it no longer reads this reader
    uint64_t published = 0;              // reads that passed the filters and were stored
    bool inventoryRunning = true;        // false after a stop command: open, not reading
    std::string settings = "unmanaged";  // "unmanaged", "in-sync", "drifted" or "applying"
    std::string driftJson;               // while drifted: {"power":{"want":26,"have":33,"source":"reader"}}
    std::string profile;                 // the [[profile]] its settings merge in; empty: none
};

// {"state":"online"|"link-lost"|"offline","time":T,"kind":K,"version":V,"serial":S,"reads":N,"spooled":N,
//  "dropped":N,"dead":N,"spool":"ok"|"full","published":N,"inventory":"running"|"stopped","settings":S,
//  "drift":{…},"profile":P,"dead_reason":R}
// (kind, version and serial null until the reader has answered once; drift only while drifted;
// profile only for a reader that names one;
// dead_reason only once a message of the reader went to the dead letters since the daemon started).
std::string ReaderStatusJson(const ReaderStatus& status);

// {"state":"online","time":T,"since":T,"readers":N}: time of publishing, and since when the
// daemon runs.
std::string SiteOnlineJson(int64_t timeMs, int64_t sinceMs, std::size_t readers);

// {"event":"spool-lost","reader":R,"seq":N,"time":T,"missing_from":N,"missing_to":M}: the reader's
// numbers from missing_from to missing_to were in a spool that was lost; those not seen by now
// never come.
std::string SpoolLostJson(const std::string& reader, uint64_t seq, int64_t timeMs, uint64_t missingFrom,
                          uint64_t missingTo);

// {"state":"offline"}: the last will, and what a clean stop publishes.
std::string SiteOfflineJson();

}  // namespace zendrik::daemon
