#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zendrik/zendrik_session.h"

namespace zendrik::session {

// The event as one line of JSON (no newline) in the shape every program of the project prints
// and publishes. Nothing for an event that cannot be written: an unknown kind, or an EPC length
// beyond the event's capacity.
std::optional<std::string> EventJson(const zendrik_event& event);

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

// "read", "arrived", "departed", "link-up", "link-lost", "link-restored", "completed"; "unknown"
// for anything else.
const char* EventKindName(int32_t kind);

}  // namespace zendrik::session
