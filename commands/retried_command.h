#pragma once

#include <cstdint>
#include <span>

#include "link/link.h"

namespace zendrik {

// One standard-frame request sent once per listed exchange variant until the reader answers with
// success with at least the data bytes `output` takes. Transport failures count as failed attempts and never
// reach the caller: the result is result::kOk or result::kStatus. On success `output` receives the
// successful reply's data[0 .. output.size() - 1]; it is written only on success.
int32_t RunRetriedCommand(Link& link, uint8_t address, uint8_t code,
                          std::span<const ExchangeVariant> attempts, std::span<const uint8_t> data,
                          std::span<uint8_t> output);

}  // namespace zendrik
