#pragma once

#include <cstdint>
#include <span>

#include "link/link.h"

namespace zendrik {

// Sends `request` once per entry of `attempts`, with that exchange variant, into the same `reply`,
// until the reply's status byte reads success and the reply carries the `dataNeeded` data bytes the
// command reads (a shorter one counts as a refusal). The exchange's own result is not looked at: a
// failed exchange leaves `reply` as it was (zeroed, or holding an earlier refusal), so a transport
// failure simply counts as one more failed attempt. True when the last reply is accepted.
bool ExchangeUntilStatusOk(Link& link, std::span<const ExchangeVariant> attempts,
                           std::span<const uint8_t> request, std::span<uint8_t> reply,
                           std::size_t dataNeeded = 0);

}  // namespace zendrik
