#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "exports/zendrik_session.h"

namespace zendrik::daemon {

// What a reader says about itself, for its retained status.
struct ReaderIdentity {
    int32_t kind = 0;
    std::string version;
    std::string serial;
};

// Where one configured reader's events come from: a reader session in the daemon, a scripted
// source in tests. The daemon's loop polls the descriptor and takes what is queued.
class EventSource {
  public:
    virtual ~EventSource() = default;

    // Readable while events are queued.
    virtual int eventFd() const = 0;
    // Takes the oldest queued event without waiting; false when none is queued.
    virtual bool Next(zendrik_event& event) = 0;
    // Asks the reader who it is; nothing when it does not answer.
    virtual std::optional<ReaderIdentity> Identify() = 0;
    // Stops reading; events already queued stay to be taken.
    virtual void Stop() = 0;
    // Events the source had to drop before the daemon took them (a full queue), since it opened.
    virtual uint64_t dropped() const = 0;
};

}  // namespace zendrik::daemon
