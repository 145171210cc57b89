#pragma once

#include <cstdint>

#include "link/link.h"

namespace zendrik {

// Reads the reader's RF output power. The first call after a handshake waits for the reader to
// settle; up to three attempts, the later ones with a longer first wait on USB.
int32_t GetOutPower(Link& link, uint8_t address, uint8_t& power);

// Sets the RF output power and confirms it by reading it back, sending the setting up to three
// times. result::kVerify when the reader still reports another power after the third send; under
// UnansweredResult::kTransport a link that failed every read-back gives the last transport failure.
int32_t SetOutPower(Link& link, uint8_t address, uint8_t power);

}  // namespace zendrik
