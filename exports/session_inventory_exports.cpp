// Exported session functions for events and the inventory.
#include <chrono>
#include <optional>

#include "exports/session_boundary.h"
#include "exports/zendrik_session.h"
#include "session/callback_scope.h"
#include "session/event_json.h"
#include "session/reader_handle.h"

namespace session = zendrik::session;
using session::GuardedCall;

namespace {

constexpr uint32_t kDefaultQueueCapacity = 4096;

std::optional<std::chrono::steady_clock::time_point> DeadlineAfter(int32_t timeoutMs) {
    if (timeoutMs < 0) {
        return std::nullopt;
    }
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

int32_t NextEvent(zendrik_reader& reader, zendrik_event& event, int32_t timeoutMs) {
    // Events delivered to a callback never reach the queue: waiting for them would be in vain.
    if (reader.inventory.running() && reader.inventory.delivers_to_callback()) {
        return ZENDRIK_ERR_BUSY;
    }
    switch (reader.queue.Take(event, DeadlineAfter(timeoutMs))) {
        case session::EventQueue::Taken::kEvent:
            return ZENDRIK_OK;
        case session::EventQueue::Taken::kTimedOut:
            return ZENDRIK_NO_EVENT;
        case session::EventQueue::Taken::kEnded:
            break;
    }
    return ZENDRIK_ERR_NOT_RUNNING;
}

}  // namespace

extern "C" {

ZENDRIK_API int32_t zendrik_event_json(const zendrik_event* event, char* text, size_t size, size_t* length) {
    if (event == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return GuardedCall([&]() -> int32_t {
        const std::optional<std::string> json = session::EventJson(*event);
        if (!json) {
            return ZENDRIK_ERR_INVALID_ARGUMENT;
        }
        return session::CopyWholeText(*json, text, size, length);
    });
}

ZENDRIK_API const char* zendrik_event_kind_name(int32_t kind) {
    return session::EventKindName(kind);
}

ZENDRIK_API void zendrik_inventory_options_init(zendrik_inventory_options* options) {
    if (options != nullptr) {
        *options = zendrik_inventory_options{sizeof(zendrik_inventory_options),
                                             static_cast<uint32_t>(session::kDefaultAbsence.count()),
                                             kDefaultQueueCapacity};
    }
}

ZENDRIK_API int32_t zendrik_inventory_start(zendrik_reader* reader, const zendrik_inventory_options* options,
                                            zendrik_event_callback callback, void* context) {
    if (reader == nullptr ||
        (options != nullptr && (options->size < sizeof(zendrik_inventory_options) ||
                                options->absence_ms == 0 || options->queue_capacity == 0))) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    zendrik_inventory_options chosen{};
    zendrik_inventory_options_init(&chosen);
    if (options != nullptr) {
        chosen.absence_ms = options->absence_ms;
        chosen.queue_capacity = options->queue_capacity;
    }
    return GuardedCall([&]() -> int32_t {
        return reader->inventory.Start(session::InventoryRequest{zendrik::Milliseconds{chosen.absence_ms},
                                                                 chosen.queue_capacity, callback, context});
    });
}

ZENDRIK_API int32_t zendrik_inventory_stop(zendrik_reader* reader) {
    if (reader == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return GuardedCall([&]() -> int32_t {
        reader->inventory.Stop();
        return ZENDRIK_OK;
    });
}

ZENDRIK_API int32_t zendrik_next_event(zendrik_reader* reader, zendrik_event* event, size_t event_size,
                                       int32_t timeout_ms) {
    if (reader == nullptr || event == nullptr || event_size < sizeof(zendrik_event)) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (session::InsideEventCallback()) {
        return ZENDRIK_ERR_IN_CALLBACK;
    }
    return GuardedCall([&]() -> int32_t { return NextEvent(*reader, *event, timeout_ms); });
}

ZENDRIK_API int zendrik_reader_event_fd(const zendrik_reader* reader) {
    return reader != nullptr ? reader->queue.fd() : -1;
}

ZENDRIK_API uint64_t zendrik_inventory_dropped(const zendrik_reader* reader) {
    return reader != nullptr ? reader->queue.dropped() : 0;
}

}  // extern "C"
