// Exported session functions for the reader's settings as a whole.
#include <string>
#include <vector>

#include "exports/session_boundary.h"
#include "bridge/settings_record.h"
#include "exports/sized_structs.h"
#include "zendrik/zendrik_session.h"
#include "rules/settings_json.h"
#include "session/reader_handle.h"

namespace session = zendrik::session;
namespace exports = zendrik::exports;
namespace rules = zendrik::rules;
using session::CopyCutText;
using session::GuardedCall;

namespace {

// A reader that cannot be called, or a settings record missing or older than the first release's.
int32_t SettingsRefusal(const zendrik_reader* reader, const zendrik_settings* settings) {
    if (settings == nullptr || settings->size < exports::kSettingsFirstSize) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return session::BlockingCallRefusal(reader);
}

}  // namespace

extern "C" {

ZENDRIK_API void zendrik_settings_init(zendrik_settings* settings) {
    if (settings != nullptr) {
        *settings = zendrik_settings{};
        settings->size = sizeof *settings;
    }
}

ZENDRIK_API int32_t zendrik_reader_read_settings(zendrik_reader* reader, zendrik_settings* settings) {
    if (const int32_t refused = SettingsRefusal(reader, settings); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        const session::CallResult called = reader->actor.Call(session::RequestOf(session::RequestKind::kReadSettings));
        if (called.outcome.result == ZENDRIK_OK) {
            exports::WriteSized(called.outcome.settings, *settings);
        }
        return called.outcome.result;
    });
}

ZENDRIK_API int32_t zendrik_reader_write_settings(zendrik_reader* reader, const zendrik_settings* settings) {
    if (const int32_t refused = SettingsRefusal(reader, settings); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        session::Request request = session::RequestOf(session::RequestKind::kWriteSettings);
        request.settings = exports::ReadSized(*settings, zendrik_settings{});
        return reader->actor.Call(std::move(request)).outcome.result;
    });
}

ZENDRIK_API int32_t zendrik_reader_configure(zendrik_reader* reader, const char* const* assignments,
                                             size_t count, char* message, size_t message_size) {
    if (const int32_t refused = session::BlockingCallRefusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    if (assignments == nullptr && count != 0) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    CopyCutText("", message, message_size);
    return GuardedCall([&]() -> int32_t {
        session::Request request = session::RequestOf(session::RequestKind::kConfigure);
        if (std::string missing = session::CopyAssignments(assignments, count, request.assignments);
            !missing.empty()) {
            CopyCutText(missing, message, message_size);
            return ZENDRIK_ERR_INVALID_ARGUMENT;
        }
        const session::CallResult called = reader->actor.Call(std::move(request));
        CopyCutText(called.outcome.message, message, message_size);
        return called.outcome.result;
    });
}

ZENDRIK_API int32_t zendrik_settings_json(const zendrik_settings* settings, int32_t kind, char* text,
                                          size_t size, size_t* length) {
    if (settings == nullptr || settings->size < exports::kSettingsFirstSize || kind < 0 || kind > UINT8_MAX) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return GuardedCall([&]() -> int32_t {
        const zendrik_settings known = exports::ReadSized(*settings, zendrik_settings{});
        const std::string json =
            rules::SettingsJson(static_cast<uint8_t>(kind), zendrik::bridge::FromPublicSettings(known));
        return session::CopyWholeText(json, text, size, length);
    });
}

ZENDRIK_API int32_t zendrik_reader_factory_default(zendrik_reader* reader) {
    if (const int32_t refused = session::BlockingCallRefusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        session::Request request = session::RequestOf(session::RequestKind::kFactoryDefault);
        request.readBack = false;  // as it always did: the sequence alone
        return reader->actor.Call(std::move(request)).outcome.result;
    });
}

}  // extern "C"
