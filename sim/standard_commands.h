#pragma once

#include <cstdint>
#include <vector>

#include "sim/reader_state.h"
#include "sim/request.h"

namespace zendrik::sim {

// Carries out one standard-frame request and returns the reply frame, addressed from the reader's
// own address (after the command, for those that change it). Status 200 for success; kStatusNoTag
// for a tag read with no tag in the field, kStatusUnknownCommand for a command this reader does not
// have, kStatusRefused for a wrong data length or a value the reader does not take: a work mode or
// buzzer other than 0 and 1, a Wiegand format other than 0x26 and 0x34, an output power outside
// the kind's range, a layout A plan it cannot lay out. A refused set changes nothing.
std::vector<uint8_t> AnswerStandard(ReaderState& state, const Request& request);

}  // namespace zendrik::sim
