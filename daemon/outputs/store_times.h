#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace zendrik::daemon {

// When the rows of the spool were stored, by id, for the time from store to an output's
// acknowledgement: one note per commit ("rows up to this id were stored by then"), not one per row.
class StoreTimes {
  public:
    using Clock = std::chrono::steady_clock;

    // Notes kept at most: an output down for long shares the oldest note among its oldest rows.
    static constexpr std::size_t kNotesMost = 65536;

    void Note(int64_t newestId, Clock::time_point at) {
        if (!notes_.empty() && notes_.back().first >= newestId) {
            return;
        }
        notes_.emplace_back(newestId, at);
        if (notes_.size() > kNotesMost) {
            notes_.pop_front();
        }
    }

    // When row `id` was stored at the latest; nothing for a row from before the daemon started.
    std::optional<Clock::time_point> Of(int64_t id) const {
        const auto note =
            std::lower_bound(notes_.begin(), notes_.end(), id,
                             [](const auto& entry, int64_t wanted) { return entry.first < wanted; });
        if (note == notes_.end()) {
            return std::nullopt;
        }
        return note->second;
    }

    // The rows up to `id` concern no output any more.
    void ForgetThrough(int64_t id) {
        while (notes_.size() > 1 && notes_[1].first <= id) {
            notes_.pop_front();
        }
    }

  private:
    std::deque<std::pair<int64_t, Clock::time_point>> notes_;
};

}  // namespace zendrik::daemon
