#include "daemon/readers/reader_counters.h"

#include <algorithm>

namespace zendrik::daemon {
namespace {

// A read carries its round's time in microseconds.
constexpr double kMicrosecondsPerSecond = 1e6;

}  // namespace

void ReaderCounters::Taken(const zendrik_event& event) {
    if (event.kind != ZENDRIK_EVENT_READ) {
        return;
    }
    ++reads_;
    if (event.round_us > 0) {
        roundSeconds_.Observe(event.round_us / kMicrosecondsPerSecond);
    }
}

void ReaderCounters::Stored(std::string_view kind) {
    ++storedByKind_[std::string(kind)];
}

uint64_t ReaderCounters::NoteSourceDropped(uint64_t dropped) {
    sourceDropped_ = dropped;
    const uint64_t grown = dropped > droppedLogged_ ? dropped - droppedLogged_ : 0;
    droppedLogged_ = std::max(droppedLogged_, dropped);
    return grown;
}

uint64_t ReaderCounters::storedReads() const {
    const auto reads = storedByKind_.find(zendrik_event_kind_name(ZENDRIK_EVENT_READ));
    return reads == storedByKind_.end() ? 0 : reads->second;
}

uint64_t ReaderCounters::stored() const {
    uint64_t total = 0;
    for (const auto& [kind, count] : storedByKind_) {
        total += count;
    }
    return total;
}

}  // namespace zendrik::daemon
