#pragma once

#include <cstdint>
#include <vector>

#include "sim/reader_state.h"
#include "sim/request.h"

namespace zendrik::sim {

// Carries out one short-frame request and returns the reply frame (see BuildShortReply for its
// layout). Status 0 for success, kShortStatusUnknownCommand for a command this reader does not
// have, kShortStatusRefused for a wrong data length or a basic parameter block that cannot be laid
// out in a reply. The tag list reply carries the EPCs of the field one after another, as many
// whole ones as fit one USB report; p1 and p2 are not looked at.
std::vector<uint8_t> AnswerShort(ReaderState& state, const Request& request);

}  // namespace zendrik::sim
