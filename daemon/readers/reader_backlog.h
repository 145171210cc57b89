#pragma once

#include <cstddef>
#include <deque>
#include <nlohmann/json.hpp>
#include <string_view>
#include <variant>

#include "zendrik/zendrik_session.h"

namespace zendrik::daemon {

// An event of the daemon's own about a reader, with the fields that follow "event", "reader",
// "seq" and "time".
struct OwnEvent {
    std::string_view kind;  // one of the constants of desired_settings.h
    nlohmann::ordered_json fields;
};

// What waits to be stored for one reader, in the order it is to be stored: events taken from its
// stream early (so that an answer behind them could be handed out at once) and the daemon's own
// events about it. Events taken early are held up to kTakenMax; past that the rest waits in the
// reader's own queue, where the library counts what it has to drop.
class ReaderBacklog {
  public:
    static constexpr std::size_t kTakenMax = 64;
    using Entry = std::variant<zendrik_event, OwnEvent>;

    void AddTaken(const zendrik_event& event);
    void AddOwn(OwnEvent event);
    Entry& front() { return entries_.front(); }
    void PopFront();

    bool empty() const { return entries_.empty(); }
    bool full() const { return taken_ >= kTakenMax; }
    // Events of the reader's stream held (not the daemon's own).
    std::size_t taken() const { return taken_; }

  private:
    std::deque<Entry> entries_;
    std::size_t taken_ = 0;
};

}  // namespace zendrik::daemon
