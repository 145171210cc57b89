#pragma once

#include <cstdint>
#include <span>

#include "link/link.h"
#include "link/reply_shape.h"

namespace zendrik {

// One standard-frame request sent once per listed exchange variant until the reader accepts it with
// a reply of `shape` (which reads at least output.size() bytes; see JudgeReply). Transport failures
// and replies of another shape count as failed attempts. What a call that never got its answer
// returns is the link's UnansweredResult rule:
// - UnansweredResult::kStatus, the flat exports' rule: result::kStatus, whatever failed; transport
//   failures never reach the caller.
// - UnansweredResult::kTransport, for reader sessions: the last attempt's transport failure (a code
//   of ResultKind::kTransport, result::kBadReply for a reply of the wrong shape) when no attempt
//   brought a refusal, so that a dead link is reported as one; result::kStatus once the reader
//   answered with another status.
// On success `output` receives the accepted reply's data[0 .. output.size() - 1]; it is written
// only on success.
int32_t RunRetriedCommand(Link& link, uint8_t address, uint8_t code,
                          std::span<const ExchangeVariant> attempts, std::span<const uint8_t> data,
                          std::span<uint8_t> output, const ReplyShape& shape);

}  // namespace zendrik
