#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "session/cut_results.h"
#include "session/event_queue.h"
#include "session/events.h"
#include "session/inventory_engine.h"
#include "session/reader_session.h"
#include "session/request.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::session {

// The name every reader handle's thread carries (see StartQuietThread).
inline constexpr const char* kReaderThreadName = "zendrik-reader";

// The thread of a reader handle, from open to close: the only one that talks to the reader. It
// serves one ordered queue of requests, and between two of them the rounds of a running
// inventory; every event of the reader (the link's changes, the inventory's reads, the completions
// of submitted requests) passes through it into the stream, numbered as it goes: to the queue, or
// to the callback of an inventory started with one.
class ReaderActor final : public EventSink {
  public:
    ReaderActor(ReaderSession& session, EventQueue& queue);
    // Closes, if Close has not been called.
    ~ReaderActor() override;
    ReaderActor(const ReaderActor&) = delete;
    ReaderActor& operator=(const ReaderActor&) = delete;

    // Starts the thread, named kReaderThreadName, with every signal blocked in it. Throws std::system_error
    // when the system refuses a thread.
    void Start();

    // Queues a submitted request: ZENDRIK_ERR_QUEUE_FULL when ZENDRIK_REQUEST_QUEUE_CAPACITY wait
    // already. Never waits for the thread. *id receives the id its completion carries.
    int32_t Submit(Request request, uint64_t& id);

    // Queues a request and waits until the thread has run it. Not from the thread itself (the
    // callers refuse calls from inside a callback first).
    CallResult Call(Request request);

    // From inside a callback: the inventory stops once the callback has returned.
    void StopInventoryFromCallback();

    // Requests not yet begun end as ZENDRIK_ERR_CANCELLED; the one under way ends first, then the
    // inventory stops and the thread ends. Not from the thread itself.
    void Close();

    // The whole results of the latest completions whose JSON was cut in their records.
    CutResults& cut_results() { return cutResults_; }

    bool inventory_running() const { return inventoryRunning_.load(); }
    bool delivers_to_callback() const { return callbackMode_.load(); }

    // The stream's way in: numbers the event and hands it on. Tag events come only while an
    // inventory runs; others (link changes, completions) go to the queue unless a callback takes
    // the stream.
    void Emit(StreamEvent event) override;

  private:
    struct Waiter;
    struct Pending {
        Request request;
        uint64_t id = 0;           // submitted: the id of its completion
        Waiter* waiter = nullptr;  // a blocking call waiting for it
    };
    struct Running {
        InventoryEngine engine;
        InventorySetup setup;
        Clock::TimePoint nextDue;
    };

    void Run();
    // The next request, or nothing when the thread must go on with the inventory (or end).
    std::optional<Pending> NextRequest();
    void Serve(Pending& pending);
    int32_t StartInventory(const InventorySetup& setup);
    void StopInventory();
    void Finish(Pending& pending, CallResult result);
    void KeepCutResult(const Pending& pending, CallResult& result);
    void CancelWaiting();
    void Deliver(StreamEvent& event);

    ReaderSession& session_;
    EventQueue& queue_;
    std::mt19937 jitterRandom_{std::random_device{}()};

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> pending_;
    std::size_t submittedWaiting_ = 0;
    uint64_t lastId_ = 0;
    bool closing_ = false;
    std::size_t servedBeforeRound_ = 0;             // requests still to serve before the next round
    std::optional<Clock::TimePoint> inventoryDue_;  // while an inventory runs: its next step
    CutResults cutResults_;

    // The thread's own.
    std::optional<Running> inventory_;

    std::atomic<bool> inventoryRunning_{false};
    std::atomic<bool> callbackMode_{false};
    std::atomic<bool> stopFromCallback_{false};
    std::thread thread_;
};

}  // namespace zendrik::session
