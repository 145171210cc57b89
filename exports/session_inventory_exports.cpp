// Exported session functions for events and the inventory.
#include <chrono>
#include <optional>
#include <span>

#include "exports/session_boundary.h"
#include "exports/sized_structs.h"
#include "zendrik/zendrik_session.h"
#include "session/callback_scope.h"
#include "session/event_json.h"
#include "session/reader_handle.h"

namespace session = zendrik::session;
namespace exports = zendrik::exports;
using session::GuardedCall;

namespace {

std::optional<std::chrono::milliseconds> TimeoutOf(int32_t timeoutMs) {
    if (timeoutMs < 0) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(timeoutMs);
}

int32_t NextEvents(zendrik_reader& reader, void* buffer, size_t eventSize, size_t count, size_t& got,
                   int32_t timeoutMs) {
    // Events delivered to a callback never reach the queue: waiting for them would be in vain.
    if (reader.actor.delivers_to_callback()) {
        return ZENDRIK_ERR_BUSY;
    }
    auto* next = static_cast<unsigned char*>(buffer);
    const session::RecordHead& head = reader.session.record_head();
    const auto take = [&](std::span<const session::StreamEvent> run) {
        session::WritePublicEvents(run, head, next, eventSize);
        next += run.size() * eventSize;
    };
    switch (reader.queue.Take(count, take, TimeoutOf(timeoutMs), got)) {
        case session::EventQueue::Taken::kEvents:
            return ZENDRIK_OK;
        case session::EventQueue::Taken::kTimedOut:
            return ZENDRIK_NO_EVENT;
        case session::EventQueue::Taken::kEnded:
            break;
    }
    return ZENDRIK_ERR_NOT_RUNNING;
}

int32_t EventsRefusal(const zendrik_reader* reader, const zendrik_event* buffer, size_t eventSize) {
    if (reader == nullptr || buffer == nullptr || eventSize < exports::kEventFirstSize) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (session::InsideEventCallback()) {
        return ZENDRIK_ERR_IN_CALLBACK;
    }
    return ZENDRIK_OK;
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
                                             static_cast<uint32_t>(session::EventQueue::kDefaultCapacity)};
    }
}

ZENDRIK_API int32_t zendrik_inventory_start(zendrik_reader* reader, const zendrik_inventory_options* options,
                                            zendrik_event_callback callback, void* context) {
    std::optional<session::InventorySetup> setup = session::InventorySetupOf(options);
    if (reader == nullptr || !setup) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    // A start from a callback would wait for the very thread it runs on.
    if (const int32_t refused = session::BlockingCallRefusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    setup->callback = callback;
    setup->context = context;
    return GuardedCall([&]() -> int32_t {
        session::Request request;
        request.kind = session::RequestKind::kInventoryStart;
        request.inventory = *setup;
        return reader->actor.Call(std::move(request)).outcome.result;
    });
}

ZENDRIK_API int32_t zendrik_inventory_stop(zendrik_reader* reader) {
    if (reader == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (session::InsideEventCallback()) {
        reader->actor.StopInventoryFromCallback();
        return ZENDRIK_OK;
    }
    return GuardedCall([&]() -> int32_t {
        session::Request request;
        request.kind = session::RequestKind::kInventoryStop;
        return reader->actor.Call(std::move(request)).outcome.result;
    });
}

ZENDRIK_API int32_t zendrik_next_event(zendrik_reader* reader, zendrik_event* event, size_t event_size,
                                       int32_t timeout_ms) {
    if (const int32_t refused = EventsRefusal(reader, event, event_size); refused != ZENDRIK_OK) {
        return refused;
    }
    size_t got = 0;
    return GuardedCall(
        [&]() -> int32_t { return NextEvents(*reader, event, event_size, 1, got, timeout_ms); });
}

ZENDRIK_API int32_t zendrik_next_events(zendrik_reader* reader, zendrik_event* buffer, size_t event_size,
                                        size_t count, size_t* got, int32_t timeout_ms) {
    if (got == nullptr || count == 0) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    *got = 0;
    if (const int32_t refused = EventsRefusal(reader, buffer, event_size); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall(
        [&]() -> int32_t { return NextEvents(*reader, buffer, event_size, count, *got, timeout_ms); });
}

ZENDRIK_API int zendrik_reader_event_fd(const zendrik_reader* reader) {
    return reader != nullptr ? reader->queue.fd() : -1;
}

ZENDRIK_API uint64_t zendrik_inventory_dropped(const zendrik_reader* reader) {
    return reader != nullptr ? reader->queue.dropped() : 0;
}

}  // extern "C"
