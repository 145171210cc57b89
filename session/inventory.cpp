#include "session/inventory.h"

#include <system_error>

#include "session/callback_scope.h"

namespace zendrik::session {

Inventory::~Inventory() {
    RequestStop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

int32_t Inventory::Start(const InventoryRequest& request) {
    if (InsideEventCallback()) {
        return ZENDRIK_ERR_IN_CALLBACK;
    }
    const std::lock_guard control(controlMutex_);
    if (running()) {
        return ZENDRIK_ERR_BUSY;
    }
    JoinEnded();
    request_ = request;
    stopRequested_ = false;
    callbackMode_ = request.callback != nullptr;
    if (!callbackMode_) {
        queue_.Open(request.queueCapacity);
    }
    active_ = true;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        active_ = false;
        queue_.Close();
        return ZENDRIK_ERR_NO_MEMORY;
    }
    return ZENDRIK_OK;
}

void Inventory::Stop() {
    if (InsideEventCallback()) {
        RequestStop();
        return;
    }
    const std::lock_guard control(controlMutex_);
    RequestStop();
    JoinEnded();
}

void Inventory::RequestStop() {
    {
        const std::lock_guard lock(sleepMutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
}

void Inventory::JoinEnded() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void Inventory::Run() {
    InventoryEngine engine(session_, request_.absence, [this] {
        return std::uniform_real_distribution<double>(0.0, 1.0)(jitterRandom_);
    });
    std::vector<zendrik_event> events;
    while (!stopRequested_) {
        events.clear();
        Clock::TimePoint next;
        // A caller may hold the link for seconds (a settings write); tags still depart on time.
        if (const std::optional turn = session_.InventoryTurn(engine.NextDeparture())) {
            if (stopRequested_) {
                break;
            }
            next = engine.Step(events);
        } else {
            next = engine.StepWithoutLink(events);
        }
        if (!Deliver(events)) {
            break;
        }
        SleepUntil(next);
    }
    active_ = false;
    queue_.Close();
}

bool Inventory::Deliver(std::vector<zendrik_event>& events) {
    for (zendrik_event& event : events) {
        if (callbackMode_ && stopRequested_) {
            return false;
        }
        event.seq = session_.NextSeq();
        if (callbackMode_) {
            const CallbackScope scope;
            request_.callback(&event, request_.context);
        } else {
            queue_.Push(event);
        }
    }
    return true;
}

void Inventory::SleepUntil(Clock::TimePoint deadline) {
    std::unique_lock lock(sleepMutex_);
    wake_.wait_until(lock, deadline, [this] { return stopRequested_.load(); });
}

}  // namespace zendrik::session
