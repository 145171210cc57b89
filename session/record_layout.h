#pragma once

#include <cstddef>

#include "zendrik/zendrik_session.h"

// Where the parts of a public event record lie, for the code that writes records: the head (the
// kind, the reader id and the padding after it), the event's own fields, the result of a request,
// and the texts of that result.
namespace zendrik::session::record {

inline constexpr std::size_t kFieldsStart = offsetof(zendrik_event, seq);
inline constexpr std::size_t kFieldsEnd = offsetof(zendrik_event, request_id);
// The part of the record each event fills: everything before the texts of a request's result.
inline constexpr std::size_t kFixedPart = offsetof(zendrik_event, json);

}  // namespace zendrik::session::record
