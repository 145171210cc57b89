#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/clock.h"
#include "session/events.h"
#include "zendrik/zendrik_session.h"

// A request to a reader handle, copied out of the caller's zendrik_request (or made by a blocking
// call), and what its caller gets back.
namespace zendrik::session {

// The requests of zendrik_session.h, and those only the blocking calls make.
enum class RequestKind : int32_t {
    kInfo = ZENDRIK_REQUEST_INFO,
    kReadSettings = ZENDRIK_REQUEST_READ_SETTINGS,
    kPlanChange = ZENDRIK_REQUEST_PLAN_CHANGE,
    kConfigure = ZENDRIK_REQUEST_CONFIGURE,
    kWriteSettings = ZENDRIK_REQUEST_WRITE_SETTINGS,
    kFactoryDefault = ZENDRIK_REQUEST_FACTORY_DEFAULT,
    kInventoryStart = ZENDRIK_REQUEST_INVENTORY_START,
    kInventoryStop = ZENDRIK_REQUEST_INVENTORY_STOP,
    kReadTag = 100,
    kReadTagList = 101,
};

struct InventorySetup {
    Milliseconds absence{3000};
    std::size_t queueCapacity = 4096;
    zendrik_event_callback callback = nullptr;  // null: events go to the queue
    void* context = nullptr;
};

struct Request {
    RequestKind kind = RequestKind::kInfo;
    std::vector<std::string> assignments;  // kPlanChange, kConfigure
    zendrik_settings settings{};           // kWriteSettings
    InventorySetup inventory;              // kInventoryStart
    bool readBack = true;                  // kFactoryDefault: read the settings back afterwards
};

inline Request RequestOf(RequestKind kind) {
    Request request;
    request.kind = kind;
    return request;
}

// A blocking call's result: the outcome, and for the single reads what they read.
struct CallResult {
    CallResult() = default;
    CallResult(Outcome done) : outcome(std::move(done)) {}  // NOLINT: an outcome is a call's result

    Outcome outcome;
    StreamEvent tag;           // kReadTag
    std::vector<uint8_t> ids;  // kReadTagList
    // A blocking call's completion: 0, or, when its JSON does not fit a record, the id under which
    // its whole result is kept.
    uint64_t requestId = 0;
};

// The name of a request kind as in the event JSON ("info", "read-settings", ...); "unknown" for
// anything else.
const char* RequestKindName(int32_t kind);

}  // namespace zendrik::session
