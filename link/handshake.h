#pragma once

#include <cstdint>

#include "link/link.h"

namespace zendrik {

// What the reader tells about itself in its answer to the handshake.
struct HandshakeInfo {
    uint8_t readerKind = 0;  // high nibble: 2 selects the second frequency plan layout
    uint8_t lowValue = 0;    // low nibble, passed on to the caller only
};

// Greets the reader (value 1 after opening a link, 0 before closing it). On success records the
// reader kind in the link and sets the settle flag, so the next power, basic-parameter or frequency
// read gives the reader time before it is asked. Every failure is result::kStatus (under
// UnansweredResult::kTransport a failed link gives its transport failure) and changes nothing,
// neither in the link nor in `info`.
int32_t Handshake(Link& link, uint8_t address, uint8_t value, HandshakeInfo& info);

}  // namespace zendrik
