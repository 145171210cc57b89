#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "exports/zendrik_session.h"
#include "session/event_queue.h"
#include "session/inventory_engine.h"
#include "session/reader_session.h"

namespace zendrik::session {

struct InventoryRequest {
    Milliseconds absence = kDefaultAbsence;
    std::size_t queueCapacity = 1;
    zendrik_event_callback callback = nullptr;  // null: events go to the queue
    void* context = nullptr;
};

// The library thread of a running inventory: steps the engine with the reader's link taken, then
// numbers the events and hands them to the callback (with no lock held) or to the queue, then
// sleeps until the next thing is due or a stop comes.
class Inventory {
  public:
    Inventory(ReaderSession& session, EventQueue& queue) : session_(session), queue_(queue) {}
    // Stops and joins a thread still running.
    ~Inventory();
    Inventory(const Inventory&) = delete;
    Inventory& operator=(const Inventory&) = delete;

    // ZENDRIK_ERR_BUSY while one runs, ZENDRIK_ERR_IN_CALLBACK from a callback (starting may have
    // to wait for a thread that is ending), ZENDRIK_ERR_NO_MEMORY when no thread can be started.
    int32_t Start(const InventoryRequest& request);

    // Asks the thread to stop and waits for it, so that no callback runs once this returns. From
    // inside a callback it only asks: the thread stops once the callback has returned.
    void Stop();

    bool running() const { return active_.load() && !stopRequested_.load(); }
    bool delivers_to_callback() const { return callbackMode_.load(); }

  private:
    void Run();
    // False when a stop came while the events were handed to the callback; those not yet handed
    // over are dropped unnumbered, so the numbers stay without gaps.
    bool Deliver(std::vector<zendrik_event>& events);
    void SleepUntil(Clock::TimePoint deadline);
    void RequestStop();
    void JoinEnded();

    ReaderSession& session_;
    EventQueue& queue_;
    InventoryRequest request_;
    std::mt19937 jitterRandom_{std::random_device{}()};

    std::mutex controlMutex_;  // one Start or Stop at a time
    std::mutex sleepMutex_;
    std::condition_variable wake_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> active_{false};
    std::atomic<bool> callbackMode_{false};
    std::thread thread_;
};

}  // namespace zendrik::session
