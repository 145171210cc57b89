// Exported session functions for requests: submitted to run on the handle's thread, or run and
// waited for.
#include <cstring>

#include "exports/session_boundary.h"
#include "exports/sized_structs.h"
#include "session/reader_handle.h"
#include "zendrik/zendrik_session.h"

namespace session = zendrik::session;
namespace exports = zendrik::exports;
using session::GuardedCall;
using session::RequestKind;

namespace {

bool KnownKind(int32_t kind) {
    return kind >= ZENDRIK_REQUEST_INFO && kind <= ZENDRIK_REQUEST_INVENTORY_STOP;
}

// The caller's request, copied whole; ZENDRIK_ERR_INVALID_ARGUMENT for one that cannot run.
int32_t RequestFrom(const zendrik_request* given, session::Request& request) {
    if (given == nullptr || given->size < exports::kRequestFirstSize) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    zendrik_request defaults;
    zendrik_request_init(&defaults, 0);
    const zendrik_request known = exports::ReadSized(*given, defaults);
    if (!KnownKind(known.kind)) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    request.kind = static_cast<RequestKind>(known.kind);
    switch (request.kind) {
        case RequestKind::kPlanChange:
        case RequestKind::kConfigure:
            if ((known.assignments == nullptr && known.assignment_count != 0) ||
                !session::CopyAssignments(known.assignments, known.assignment_count, request.assignments)
                     .empty()) {
                return ZENDRIK_ERR_INVALID_ARGUMENT;
            }
            break;
        case RequestKind::kWriteSettings:
            if (known.settings == nullptr || known.settings->size < exports::kSettingsFirstSize) {
                return ZENDRIK_ERR_INVALID_ARGUMENT;
            }
            request.settings = exports::ReadSized(*known.settings, zendrik_settings{});
            break;
        case RequestKind::kInventoryStart: {
            const std::optional<session::InventorySetup> setup = session::InventorySetupOf(known.inventory);
            if (!setup) {
                return ZENDRIK_ERR_INVALID_ARGUMENT;
            }
            request.inventory = *setup;
            break;
        }
        default:
            break;
    }
    return ZENDRIK_OK;
}

}  // namespace

extern "C" {

ZENDRIK_API void zendrik_request_init(zendrik_request* request, int32_t kind) {
    if (request != nullptr) {
        *request = zendrik_request{};
        request->size = sizeof *request;
        request->kind = kind;
    }
}

ZENDRIK_API int32_t zendrik_reader_submit(zendrik_reader* reader, const zendrik_request* request,
                                          uint64_t* request_id) {
    if (reader == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return GuardedCall([&]() -> int32_t {
        session::Request copied;
        if (const int32_t refused = RequestFrom(request, copied); refused != ZENDRIK_OK) {
            return refused;
        }
        uint64_t id = 0;
        const int32_t result = reader->actor.Submit(std::move(copied), id);
        if (result == ZENDRIK_OK && request_id != nullptr) {
            *request_id = id;
        }
        return result;
    });
}

ZENDRIK_API int32_t zendrik_reader_call(zendrik_reader* reader, const zendrik_request* request,
                                        zendrik_event* completion, size_t event_size) {
    if (completion == nullptr || event_size < exports::kEventFirstSize) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (const int32_t refused = session::BlockingCallRefusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        session::Request copied;
        if (const int32_t refused = RequestFrom(request, copied); refused != ZENDRIK_OK) {
            return refused;
        }
        const int32_t kind = static_cast<int32_t>(copied.kind);
        session::CallResult called = reader->actor.Call(std::move(copied));
        const int32_t result = called.outcome.result;
        const session::StreamEvent event = session::CompletionEvent(
            reader->session.clock().UtcMilliseconds(), called.requestId, kind, std::move(called.outcome));
        session::WritePublicEvent(event, reader->session.record_head(), completion, event_size);
        return result;
    });
}

ZENDRIK_API int32_t zendrik_completion_json(zendrik_reader* reader, uint64_t request_id, char* text,
                                            size_t size, size_t* length) {
    if (reader == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return GuardedCall([&]() -> int32_t {
        const std::optional<std::string> whole = reader->actor.cut_results().Find(request_id);
        if (!whole) {
            return ZENDRIK_ERR_INVALID_ARGUMENT;
        }
        return session::CopyWholeText(*whole, text, size, length);
    });
}

}  // extern "C"
