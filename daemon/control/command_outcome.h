#pragma once

#include <cstdint>
#include <string>

namespace zendrik::daemon {

// Why a command to a reader did not succeed, in the terms both its channels (MQTT replies and the
// REST API's status codes) need.
enum class CommandFailure {
    kNone,
    kBadRequest,     // bad JSON, an unknown command, bad arguments or a bad value: nothing was sent
    kForbidden,      // [control] commands does not allow it
    kManaged,        // a key the configuration file declares
    kUnknownReader,  // no reader of that name
    kUnreachable,    // the reader's link is down, or it went while the command waited
    kRefused,        // the reader answered and refused, or kept another value
    kBusy,           // too many commands wait for the reader
};

// Codes of the daemon's own refusals, beside the library's result codes in replies.
inline constexpr int32_t kCodeForbidden = -301;
inline constexpr int32_t kCodeManaged = -302;
inline constexpr int32_t kCodeUnknownReader = -303;
inline constexpr int32_t kCodeBadRequest = -304;
inline constexpr int32_t kCodeResultLost = -305;  // the reader's result could not be had whole

struct CommandOutcome {
    CommandFailure failure = CommandFailure::kNone;
    std::string resultJson;  // on success: the result object, as JSON text
    int32_t code = 0;        // on failure: a library result code or one of the kCode* above
    std::string words;       // on failure: what went wrong

    bool ok() const { return failure == CommandFailure::kNone; }
};

}  // namespace zendrik::daemon
