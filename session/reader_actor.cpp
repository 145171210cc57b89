#include "session/reader_actor.h"

#include <future>

#include "session/callback_scope.h"
#include "session/operations.h"
#include "session/quiet_thread.h"

namespace zendrik::session {
namespace {

constexpr const char* kRunningJson = R"({"inventory":"running"})";
constexpr const char* kStoppedJson = R"({"inventory":"stopped"})";

Outcome Result(int32_t result, const char* json = "") {
    Outcome outcome;
    outcome.result = result;
    if (result == ZENDRIK_OK) {
        outcome.json = json;
    }
    return outcome;
}

}  // namespace

struct ReaderActor::Waiter {
    std::promise<CallResult> done;
};

ReaderActor::ReaderActor(ReaderSession& session, EventQueue& queue) : session_(session), queue_(queue) {
    session_.set_event_sink(*this);
}

ReaderActor::~ReaderActor() {
    Close();
}

void ReaderActor::Start() {
    thread_ = StartQuietThread(kReaderThreadName, [this] { Run(); });
}

int32_t ReaderActor::Submit(Request request, uint64_t& id) {
    {
        const std::lock_guard lock(mutex_);
        if (closing_) {
            return ZENDRIK_ERR_CANCELLED;
        }
        if (submittedWaiting_ >= ZENDRIK_REQUEST_QUEUE_CAPACITY) {
            return ZENDRIK_ERR_QUEUE_FULL;
        }
        id = ++lastId_;
        // Counted before the thread can see the request, so that its completion never comes first.
        queue_.ExpectCompletion();
        pending_.push_back(Pending{std::move(request), id, nullptr});
        ++submittedWaiting_;
    }
    wake_.notify_one();
    return ZENDRIK_OK;
}

CallResult ReaderActor::Call(Request request) {
    Waiter waiter;
    std::future<CallResult> result = waiter.done.get_future();
    {
        const std::lock_guard lock(mutex_);
        if (closing_) {
            return {Result(ZENDRIK_ERR_CANCELLED)};
        }
        pending_.push_back(Pending{std::move(request), 0, &waiter});
    }
    wake_.notify_one();
    return result.get();
}

void ReaderActor::StopInventoryFromCallback() {
    {
        const std::lock_guard lock(mutex_);
        stopFromCallback_ = true;
    }
    wake_.notify_one();
}

void ReaderActor::Close() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ReaderActor::Run() {
    for (;;) {
        if (stopFromCallback_.exchange(false)) {
            StopInventory();
        }
        std::optional<Pending> next;
        bool round = false;
        {
            std::unique_lock lock(mutex_);
            const auto ready = [this] { return closing_ || !pending_.empty() || stopFromCallback_.load(); };
            if (inventory_) {
                // A round already due is not waited for: a wait until a time that has passed still
                // costs a system call, once for every tag when tags are read back to back.
                if (session_.clock().now() < inventory_->nextDue) {
                    wake_.wait_until(lock, inventory_->nextDue, ready);
                }
            } else {
                wake_.wait(lock, ready);
            }
            if (closing_) {
                break;
            }
            // Between two rounds the requests that came during the round are served, then the next
            // round; what comes meanwhile waits for the gap after it, so that callers asking again
            // and again cannot hold the inventory up.
            const bool roundDue = inventory_ && session_.clock().now() >= inventory_->nextDue;
            if (!pending_.empty() && (!roundDue || servedBeforeRound_ > 0)) {
                next = std::move(pending_.front());
                pending_.pop_front();
                submittedWaiting_ -= next->waiter == nullptr ? 1 : 0;
                servedBeforeRound_ -= servedBeforeRound_ > 0 ? 1 : 0;
            } else {
                round = roundDue;
            }
        }
        if (next) {
            Serve(*next);
            if (inventory_) {
                inventory_->nextDue = inventory_->engine.DepartDue();
            }
        } else if (round) {
            inventory_->nextDue = inventory_->engine.Step();
            const std::lock_guard lock(mutex_);
            servedBeforeRound_ = pending_.size();
        }
    }
    StopInventory();
    CancelWaiting();
}

void ReaderActor::Serve(Pending& pending) {
    const Request& request = pending.request;
    switch (request.kind) {
        case RequestKind::kInventoryStart: {
            const int32_t started = StartInventory(request.inventory);
            Finish(pending, {Result(started, kRunningJson)});
            return;
        }
        case RequestKind::kInventoryStop:
            StopInventory();
            Finish(pending, {Result(ZENDRIK_OK, kStoppedJson)});
            return;
        case RequestKind::kReadTag:
        case RequestKind::kReadTagList:
            // A single read would take a round from the inventory and its tag from the stream.
            if (inventory_ && request.kind == RequestKind::kReadTag) {
                Finish(pending, {Result(ZENDRIK_ERR_BUSY)});
                return;
            }
            break;
        default:
            break;
    }
    Finish(pending, Perform(session_, request));
}

int32_t ReaderActor::StartInventory(const InventorySetup& setup) {
    if (inventory_) {
        return ZENDRIK_ERR_BUSY;
    }
    const Clock::TimePoint now = session_.clock().now();
    inventory_.emplace(Running{
        InventoryEngine(session_, setup.absence,
                        [this] { return std::uniform_real_distribution<double>(0.0, 1.0)(jitterRandom_); }),
        setup, now});
    callbackMode_ = setup.callback != nullptr;
    if (!callbackMode_) {
        queue_.SetCapacity(setup.queueCapacity);
        queue_.SetInventoryRunning(true);
    }
    inventoryRunning_ = true;
    return ZENDRIK_OK;
}

void ReaderActor::StopInventory() {
    if (!inventory_) {
        return;
    }
    inventory_.reset();
    inventoryRunning_ = false;
    callbackMode_ = false;
    queue_.SetInventoryRunning(false);
}

void ReaderActor::Finish(Pending& pending, CallResult result) {
    if (!JsonFitsRecord(result.outcome)) {
        KeepCutResult(pending, result);
    }
    if (pending.waiter != nullptr) {
        pending.waiter->done.set_value(std::move(result));
        return;
    }
    Emit(CompletionEvent(session_.clock().UtcMilliseconds(), pending.id,
                         static_cast<int32_t>(pending.request.kind), std::move(result.outcome)));
}

// A result too long for its record is kept whole under its request's id; a blocking call's, which
// has none, is given one for it.
void ReaderActor::KeepCutResult(const Pending& pending, CallResult& result) {
    uint64_t id = pending.id;
    if (pending.waiter != nullptr) {
        const std::lock_guard lock(mutex_);
        id = ++lastId_;
        result.requestId = id;
    }
    cutResults_.Keep(id, result.outcome.json);
}

void ReaderActor::CancelWaiting() {
    std::deque<Pending> cancelled;
    {
        const std::lock_guard lock(mutex_);
        cancelled.swap(pending_);
        submittedWaiting_ = 0;
    }
    for (Pending& pending : cancelled) {
        Finish(pending, {Result(ZENDRIK_ERR_CANCELLED)});
    }
}

void ReaderActor::Emit(StreamEvent event) {
    // What an inventory found after it was told to stop belongs to no stream: dropped unnumbered,
    // so that the numbers stay without gaps.
    if (IsTagEventKind(event.kind) && (!inventory_ || stopFromCallback_.load())) {
        return;
    }
    event.fields.seq = session_.NextSeq();
    Deliver(event);
}

void ReaderActor::Deliver(StreamEvent& event) {
    if (!callbackMode_.load() || stopFromCallback_.load()) {
        queue_.Push(std::move(event));
        return;
    }
    zendrik_event record;
    FillPublicEvent(event, session_.record_head(), record);
    {
        const CallbackScope scope;
        inventory_->setup.callback(&record, inventory_->setup.context);
    }
    if (event.completion) {
        queue_.CompletionDelivered();
    }
}

}  // namespace zendrik::session
