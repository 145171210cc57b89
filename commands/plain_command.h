#pragma once

#include <cstdint>
#include <span>

#include "link/link.h"
#include "link/reply_shape.h"

namespace zendrik {

// One standard-frame request, one standard exchange. A failed exchange is reported with its own
// code, a reply that is not accepted as JudgeReply tells (`shape` reads at least output.size()
// bytes): result::kStatus for a refusal, or for a reply too short under the flat rules, and
// result::kBadReply for a reply of another shape under exact shapes. On success `output` receives
// the reply's data[0 .. output.size() - 1]; it is written only on success.
int32_t RunPlainCommand(Link& link, uint8_t address, uint8_t code, std::span<const uint8_t> data,
                        std::span<uint8_t> output, const ReplyShape& shape);

}  // namespace zendrik
