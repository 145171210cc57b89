#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "exports/zendrik_session.h"
#include "session/presence.h"

// The events of a reader as the session hands them out, filled in without a sequence number:
// that is given when an event is delivered.
namespace zendrik::session {

// A read, arrived or departed event of the tag `epc` (at most ZENDRIK_EPC_CAPACITY bytes; more is
// cut), its card number and presence. `antenna` and `rssi` are -1 where the reader sends none.
zendrik_event TagEvent(int32_t kind, std::string_view reader, int64_t utcMs, std::span<const uint8_t> epc,
                       const Presence& presence, int32_t antenna = -1, int32_t rssi = -1);

// A link-lost event with the result that lost the link, or link-restored (error 0).
zendrik_event LinkEvent(int32_t kind, std::string_view reader, int64_t utcMs, int32_t error);

}  // namespace zendrik::session
