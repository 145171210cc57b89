#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "link/link.h"
#include "link/reply_shape.h"

namespace zendrik {

// The failed attempts of a command that judges only the reader's answer, and what the command
// reports for them by the link's UnansweredResult rule: under UnansweredResult::kStatus always the
// command's own failure code (result::kStatus, or result::kVerify for a verified set), as the flat
// exports give it; under UnansweredResult::kTransport the last transport failure when no attempt
// brought a refusal, so that a reader session on a dead link sees the link fail, not the reader.
class UnansweredAttempts {
  public:
    // One attempt's result: a transport code (result::kBadReply too, for a reply of the wrong shape)
    // when the link failed, any other code when the reader answered.
    void Note(int32_t attempt);
    // What the command reports when no attempt did what it needed; `ownFailure` is its code for it.
    int32_t Result(const Link& link, int32_t ownFailure) const;

  private:
    std::optional<int32_t> lastTransportFailure_;
    bool answered_ = false;
};

// What a command of one attempt reports for its failure `attempt` (see UnansweredAttempts).
int32_t UnansweredResultOf(const Link& link, int32_t attempt, int32_t ownFailure);

// Sends `request` once per entry of `attempts`, with that exchange variant, into the same `reply`,
// until a reply is accepted: status success and the data length `shape` asks for (see JudgeReply).
// A failed exchange leaves `reply` as it was and counts as one more failed attempt. result::kOk when
// a reply was accepted; otherwise, by the link's UnansweredResult rule, result::kStatus or the last
// attempt's transport failure (see UnansweredAttempts).
int32_t ExchangeUntilStatusOk(Link& link, std::span<const ExchangeVariant> attempts,
                              std::span<const uint8_t> request, std::span<uint8_t> reply,
                              const ReplyShape& shape);

}  // namespace zendrik
