#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "daemon/common/histogram.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::daemon {

// What one reader has done since the daemon opened it: every read taken from it (published or
// not) with its round's time, the events stored by kind (what was published), and what its
// source dropped before the daemon took it.
class ReaderCounters {
  public:
    // An event taken from the reader's stream.
    void Taken(const zendrik_event& event);
    // An event of `kind` went into the spool.
    void Stored(std::string_view kind);
    // What the source says it dropped so far, kept for when the source is gone.
    void RememberSourceDropped(uint64_t dropped) { sourceDropped_ = dropped; }
    // The same, and what it grew by since the journal was last told.
    uint64_t NoteSourceDropped(uint64_t dropped);

    uint64_t reads() const { return reads_; }
    uint64_t storedReads() const;
    uint64_t stored() const;
    uint64_t sourceDropped() const { return sourceDropped_; }
    const std::map<std::string, uint64_t>& storedByKind() const { return storedByKind_; }
    const Histogram& roundSeconds() const { return roundSeconds_; }

  private:
    uint64_t reads_ = 0;
    uint64_t sourceDropped_ = 0;  // as last seen
    uint64_t droppedLogged_ = 0;
    std::map<std::string, uint64_t> storedByKind_;
    Histogram roundSeconds_;
};

}  // namespace zendrik::daemon
