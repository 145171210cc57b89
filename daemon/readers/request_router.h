#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "daemon/readers/reader_source.h"

namespace zendrik::daemon {

// The requests queued on one reader and who waits for each: a completion taken from the reader's
// stream goes to the one that waits for its id, and every request the reader will never answer
// gets a made-up failure, so that none is left without an answer.
class RequestRouter {
  public:
    using Completion = std::function<void(const RequestEnd& completed)>;

    // Queues `request` on `source`; `done` gets its completion. The library's result code when
    // nothing was queued (then `done` is never called).
    std::optional<int32_t> Submit(ReaderSource& source, const ReaderRequest& request, Completion done);
    // Hands a completed event to whoever waits for it; false when nobody does (an answer to a
    // request of the library's own, or one already failed).
    bool Hand(const RequestEnd& completed);
    // Fails every request still waiting with ZENDRIK_ERR_CANCELLED and `why`.
    void FailAll(const std::string& why);

    bool waiting() const { return !pending_.empty(); }

  private:
    std::map<uint64_t, Completion> pending_;  // request id -> who waits for it
};

}  // namespace zendrik::daemon
