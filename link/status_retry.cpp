#include "link/status_retry.h"

#include "link/result_codes.h"

namespace zendrik {

void UnansweredAttempts::Note(int32_t attempt) {
    if (KindOfResult(attempt) == ResultKind::kTransport) {
        lastTransportFailure_ = attempt;
    } else {
        answered_ = true;
    }
}

int32_t UnansweredAttempts::Result(const Link& link, int32_t ownFailure) const {
    if (link.reply_rules().unanswered == UnansweredResult::kTransport && !answered_ &&
        lastTransportFailure_) {
        return *lastTransportFailure_;
    }
    return ownFailure;
}

int32_t UnansweredResultOf(const Link& link, int32_t attempt, int32_t ownFailure) {
    UnansweredAttempts attempts;
    attempts.Note(attempt);
    return attempts.Result(link, ownFailure);
}

int32_t ExchangeUntilStatusOk(Link& link, std::span<const ExchangeVariant> attempts,
                              std::span<const uint8_t> request, std::span<uint8_t> reply,
                              const ReplyShape& shape) {
    UnansweredAttempts failed;
    for (const ExchangeVariant& variant : attempts) {
        const int32_t judged = ExchangeAndJudge(link, variant, request, reply, shape);
        if (judged == result::kOk) {
            return result::kOk;
        }
        failed.Note(judged);
    }
    return failed.Result(link, result::kStatus);
}

}  // namespace zendrik
