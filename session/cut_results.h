#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "zendrik/zendrik_session.h"

namespace zendrik::session {

// The whole results of a handle's latest completions whose JSON did not fit their record's json
// field, by request id, for zendrik_completion_json. One is kept from its request's end until
// kKept more were cut after it: the memory stays bounded however long a caller leaves its events
// untaken, and a caller that takes a cut completion and asks for its result at once always finds
// it. The handle's thread keeps them while any thread asks.
class CutResults {
  public:
    static constexpr std::size_t kKept = ZENDRIK_CUT_RESULTS_KEPT;

    // Keeps `json` for `requestId`, forgetting the oldest kept beyond kKept.
    void Keep(uint64_t requestId, std::string json);
    // The whole result kept for `requestId`; nothing when none is.
    std::optional<std::string> Find(uint64_t requestId) const;

  private:
    struct Kept {
        uint64_t requestId = 0;
        std::string json;
    };
    mutable std::mutex mutex_;
    std::deque<Kept> kept_;  // oldest first
};

}  // namespace zendrik::session
