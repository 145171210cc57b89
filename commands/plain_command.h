#pragma once

#include <cstdint>
#include <span>

#include "link/link.h"

namespace zendrik {

// One standard-frame request, one standard exchange. A failed exchange is reported with its own
// code, a reply whose status is not success, or that carries fewer data bytes than `output` takes,
// with result::kStatus; on success `output` receives
// the reply's data[0 .. output.size() - 1]. `output` is written only on success.
int32_t RunPlainCommand(Link& link, uint8_t address, uint8_t code, std::span<const uint8_t> data,
                        std::span<uint8_t> output);

}  // namespace zendrik
