#pragma once

#include <cstdint>

#include "commands/frequency_plan.h"
#include "link/link.h"

namespace zendrik {

// Reads the frequency plan in the layout of the reader kind the last handshake reported. The first
// call after a handshake waits for the reader to settle. Every reply whose status is not success,
// or that lacks the bytes of its plan (under exact shapes: that has another length), is
// result::kStatus with nothing set in `reading`; under UnansweredResult::kTransport a failed link
// gives its transport failure.
int32_t GetFrequencyRegion(Link& link, uint8_t address, FrequencyReading& reading);

// Writes the frequency plan and confirms it by reading it back; result::kVerify when the reader
// still reports another plan after the second send. A failed send shows as a mismatch; under
// UnansweredResult::kTransport a link that failed every read-back gives the last transport failure.
int32_t SetFrequencyRegion(Link& link, uint8_t address, const FrequencySettings& settings);

}  // namespace zendrik
