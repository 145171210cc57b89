// Exported session functions for the reader's settings as a whole.
#include <string>
#include <vector>

#include "exports/session_boundary.h"
#include "exports/settings_record.h"
#include "exports/zendrik_session.h"
#include "rules/settings_json.h"
#include "rules/settings_table.h"
#include "session/callback_scope.h"
#include "session/reader_handle.h"
#include "session/settings_change.h"

namespace session = zendrik::session;
namespace rules = zendrik::rules;
using session::CopyCutText;
using session::GuardedCall;

namespace {

// The checks every blocking call of a handle makes first.
int32_t Refusal(const zendrik_reader* reader) {
    if (reader == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (session::InsideEventCallback()) {
        return ZENDRIK_ERR_IN_CALLBACK;
    }
    return ZENDRIK_OK;
}

session::ChangeOutcome Connected(session::ReaderSession& s) {
    const int32_t result = s.Note(s.EnsureConnected());
    return {result, result == ZENDRIK_OK ? std::string()
                                         : "cannot connect: " + std::string(zendrik_result_text(result))};
}

session::ChangeOutcome Configure(session::ReaderSession& s, const std::vector<std::string>& assignments) {
    if (session::ChangeOutcome connected = Connected(s); connected.result != ZENDRIK_OK) {
        return connected;
    }
    rules::ReaderSettings current;
    if (session::ChangeOutcome read = session::ReadSettings(s, current); read.result != ZENDRIK_OK) {
        return read;
    }
    rules::ChangePlan plan;
    if (std::string error = rules::PlanChanges(assignments, s.handshake().readerKind, current, plan);
        !error.empty()) {
        return {ZENDRIK_ERR_INVALID_ARGUMENT, error + "; nothing was written"};
    }
    return session::ApplyPlan(s, plan);
}

int32_t WriteAll(session::ReaderSession& s, const zendrik_settings& settings) {
    if (const int32_t result = s.Note(s.EnsureConnected()); result != ZENDRIK_OK) {
        return result;
    }
    rules::ChangePlan plan;
    if (!rules::PlanAllSettings(s.handshake().readerKind, zendrik::exports::FromPublicSettings(settings),
                                plan)
             .empty()) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return session::ApplyPlan(s, plan).result;
}

// A reader that cannot be called, or a settings record missing or older than this library's.
int32_t SettingsRefusal(const zendrik_reader* reader, const zendrik_settings* settings) {
    if (const int32_t refused = Refusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    if (settings == nullptr || settings->size < sizeof(zendrik_settings)) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return ZENDRIK_OK;
}

}  // namespace

extern "C" {

ZENDRIK_API int32_t zendrik_reader_read_settings(zendrik_reader* reader, zendrik_settings* settings) {
    if (const int32_t refused = SettingsRefusal(reader, settings); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        const auto turn = reader->session.CallerTurn();
        session::ReaderSession& s = reader->session;
        if (const int32_t result = s.Note(s.EnsureConnected()); result != ZENDRIK_OK) {
            return result;
        }
        rules::ReaderSettings read;
        const session::ChangeOutcome outcome = session::ReadSettings(s, read);
        if (outcome.result == ZENDRIK_OK) {
            zendrik::exports::ToPublicSettings(read, *settings);
        }
        return outcome.result;
    });
}

ZENDRIK_API int32_t zendrik_reader_write_settings(zendrik_reader* reader, const zendrik_settings* settings) {
    if (const int32_t refused = SettingsRefusal(reader, settings); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        const auto turn = reader->session.CallerTurn();
        return WriteAll(reader->session, *settings);
    });
}

ZENDRIK_API int32_t zendrik_reader_configure(zendrik_reader* reader, const char* const* assignments,
                                             size_t count, char* message, size_t message_size) {
    if (const int32_t refused = Refusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    if (assignments == nullptr && count != 0) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    CopyCutText("", message, message_size);
    return GuardedCall([&]() -> int32_t {
        std::vector<std::string> texts;
        for (size_t i = 0; i < count; ++i) {
            if (assignments[i] == nullptr) {
                CopyCutText("assignment " + std::to_string(i + 1) + " is missing", message, message_size);
                return ZENDRIK_ERR_INVALID_ARGUMENT;
            }
            texts.emplace_back(assignments[i]);
        }
        const auto turn = reader->session.CallerTurn();
        const session::ChangeOutcome outcome = Configure(reader->session, texts);
        CopyCutText(outcome.message, message, message_size);
        return outcome.result;
    });
}

ZENDRIK_API int32_t zendrik_settings_json(const zendrik_settings* settings, int32_t kind, char* text,
                                          size_t size, size_t* length) {
    if (settings == nullptr || settings->size < sizeof(zendrik_settings) || kind < 0 || kind > UINT8_MAX) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return GuardedCall([&]() -> int32_t {
        const std::string json =
            rules::SettingsJson(static_cast<uint8_t>(kind), zendrik::exports::FromPublicSettings(*settings));
        return session::CopyWholeText(json, text, size, length);
    });
}

ZENDRIK_API int32_t zendrik_reader_factory_default(zendrik_reader* reader) {
    if (const int32_t refused = Refusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        const auto turn = reader->session.CallerTurn();
        session::ReaderSession& s = reader->session;
        if (const int32_t result = s.Note(s.EnsureConnected()); result != ZENDRIK_OK) {
            return result;
        }
        return session::RestoreFactoryDefaults(s).result;
    });
}

}  // extern "C"
