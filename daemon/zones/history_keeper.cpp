#include "daemon/zones/history_keeper.h"

#include "daemon/common/log.h"

namespace zendrik::daemon {

HistoryKeeper::HistoryKeeper(const std::string& path, const HistoryConfig& config, EventLoop& loop,
                             OffLoop& offLoop, Clock now)
    : shelf_(std::make_shared<Shelf>(path, config)), offLoop_(offLoop), now_(std::move(now)) {
    rows_ = shelf_->history.rows();
    timer_ = loop.AddTimer([this] { Flush(); });
}

HistoryKeeper::~HistoryKeeper() {
    *alive_ = false;
}

void HistoryKeeper::Note(const ZoneChange& left) {
    batch_.visits.push_back(VisitRecord{left.epc, left.card, left.zone, left.sinceMs, left.timeMs,
                                        left.lastSeenMs, left.reader, left.reads, left.readers});
    if (!timer_.armed()) {
        timer_.ArmIn(kBatchPeriod);
    }
}

void HistoryKeeper::Note(const Passage& passage) {
    batch_.passages.push_back(PassageRecord{0, passage.epc, passage.card, passage.door,
                                            passage.in ? "in" : "out", passage.timeMs, passage.outsideAtMs,
                                            passage.insideAtMs});
    if (!timer_.armed()) {
        timer_.ArmIn(kBatchPeriod);
    }
}

void HistoryKeeper::Flush() {
    if (!batch_.empty()) {
        OffLoopAfterBatch([](History&) { return std::function<void()>{}; });
    }
}

void HistoryKeeper::OffLoopAfterBatch(std::function<std::function<void()>(History&)> ask) {
    timer_.Disarm();
    auto batch = std::make_shared<Batch>(std::move(batch_));
    batch_ = Batch{};
    const int64_t nowMs = now_();
    offLoop_.Run([shelf = shelf_, batch, nowMs, ask = std::move(ask), alive = std::weak_ptr<bool>(alive_),
                  this]() -> std::function<void()> {
        const std::lock_guard lock(shelf->mutex);
        std::string failure;
        try {
            if (!batch->empty()) {
                shelf->history.Write(batch->visits, batch->passages, nowMs);
            }
        } catch (const SqliteError& error) {
            failure = error.what();  // the batch is lost; the question is answered all the same
        }
        const std::function<void()> then = ask(shelf->history);
        const uint64_t rows = shelf->history.rows();
        const uint64_t dropped = shelf->history.dropped();
        return [alive, this, rows, dropped, failure, then] {
            const auto live = alive.lock();
            if (!live || !*live) {
                return;
            }
            Written(rows, dropped, failure);
            if (then) {
                then();
            }
        };
    });
}

void HistoryKeeper::Written(uint64_t rows, uint64_t dropped, const std::string& failure) {
    rows_ = rows;
    dropped_ = dropped;
    if (failure != lastFailure_) {
        Log(failure.empty() ? "the history is written again" : "the history cannot be written: " + failure);
        lastFailure_ = failure;
    }
}

void HistoryKeeper::AskTag(const std::string& epc, std::size_t limit, TagDone done) {
    OffLoopAfterBatch([epc, limit, done = std::move(done)](History& history) -> std::function<void()> {
        std::vector<VisitRecord> visits;
        std::vector<PassageRecord> passages;
        std::string failure;
        try {
            visits = history.Visits(epc, limit);
            PassageQuery query;
            query.epc = epc;
            query.limit = limit;
            passages = history.Passages(query);
        } catch (const SqliteError& error) {
            failure = error.what();
        }
        return [done, visits, passages, failure] { done(visits, passages, failure); };
    });
}

void HistoryKeeper::AskPassages(const PassageQuery& query, PassagesDone done) {
    OffLoopAfterBatch([query, done = std::move(done)](History& history) -> std::function<void()> {
        std::vector<PassageRecord> passages;
        std::string failure;
        try {
            passages = history.Passages(query);
        } catch (const SqliteError& error) {
            failure = error.what();
        }
        return [done, passages, failure] { done(passages, failure); };
    });
}

void HistoryKeeper::WriteNow(const std::vector<ZoneChange>& openVisits) {
    for (const ZoneChange& visit : openVisits) {
        Note(visit);
    }
    timer_.Disarm();
    const std::lock_guard lock(shelf_->mutex);
    try {
        shelf_->history.Write(batch_.visits, batch_.passages, now_());
        batch_ = Batch{};
    } catch (const SqliteError& error) {
        Log(std::string("the history could not be written at the stop: ") + error.what());
    }
}

}  // namespace zendrik::daemon
