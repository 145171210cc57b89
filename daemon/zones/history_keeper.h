#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "daemon/config/config.h"
#include "daemon/loop/event_loop.h"
#include "daemon/loop/off_loop.h"
#include "daemon/store/history.h"
#include "daemon/zones/door_passes.h"
#include "daemon/zones/zone_presence.h"

namespace zendrik::daemon {

// The zones' ended visits and the doors' passages on their way into the history: gathered on the
// loop and written off it a batch at a time (every kBatchPeriod while there is something), so that
// neither the loop nor the spool's commits wait for the history's disk. Questions go off the loop
// too, after what is gathered so far, so that an answer holds everything published before it.
class HistoryKeeper {
  public:
    static constexpr std::chrono::milliseconds kBatchPeriod{1000};
    static constexpr uint64_t kBytesPerMb = 1024 * 1024;

    using Clock = std::function<int64_t()>;
    using TagDone =
        std::function<void(const std::vector<VisitRecord>& visits, const std::vector<PassageRecord>& passages,
                           const std::string& failure)>;
    using PassagesDone =
        std::function<void(const std::vector<PassageRecord>& passages, const std::string& failure)>;

    // Opens the file at `path` (throws SqliteError when it cannot).
    HistoryKeeper(const std::string& path, const HistoryConfig& config, EventLoop& loop, OffLoop& offLoop,
                  Clock now);
    ~HistoryKeeper();
    HistoryKeeper(const HistoryKeeper&) = delete;
    HistoryKeeper& operator=(const HistoryKeeper&) = delete;

    // A visit that ended, or a passage.
    void Note(const ZoneChange& left);
    void Note(const Passage& passage);

    // A tag's last `limit` visits and passages, newest first; `done` is called on the loop.
    void AskTag(const std::string& epc, std::size_t limit, TagDone done);
    void AskPassages(const PassageQuery& query, PassagesDone done);

    // At a stop: the visits still open ended now, and everything gathered written, on this thread
    // (the loop has nothing else to do by then).
    void WriteNow(const std::vector<ZoneChange>& openVisits);

    uint64_t rows() const { return rows_; }
    uint64_t dropped() const { return dropped_; }

  private:
    struct Shelf {
        std::mutex mutex;  // one call on the file at a time
        History history;
        Shelf(const std::string& path, const HistoryConfig& config)
            : history(path, config.keepDays, static_cast<uint64_t>(config.maxMb) * kBytesPerMb) {}
    };
    struct Batch {
        std::vector<VisitRecord> visits;
        std::vector<PassageRecord> passages;
        bool empty() const { return visits.empty() && passages.empty(); }
    };

    void Flush();
    // Runs `ask` off the loop after the batch gathered so far is written; `then` on the loop.
    void OffLoopAfterBatch(std::function<std::function<void()>(History&)> ask);
    void Written(uint64_t rows, uint64_t dropped, const std::string& failure);

    std::shared_ptr<Shelf> shelf_;
    OffLoop& offLoop_;
    Clock now_;
    Timer timer_;
    Batch batch_;
    uint64_t rows_ = 0;
    uint64_t dropped_ = 0;
    std::string lastFailure_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zendrik::daemon
