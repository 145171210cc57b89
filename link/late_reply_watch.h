#pragma once

#include <optional>

#include "link/clock.h"
#include "link/reply_rules.h"

namespace zendrik {

// The link's memory of an answer that may still be on its way (see LateReplies): how long the
// latest exchange waited for its answer once its request had gone out, and the quiet period the
// next request has to wait for. Transports take the period before they send and note the answer
// time once they have sent; the link judges the outcome.
class LateReplyWatch {
  public:
    // A new exchange begins: nothing of it has gone out yet.
    void BeginExchange() { sentAnswerTime_.reset(); }

    // Records that the request is out: an exchange that fails from here on may be answered late,
    // for up to `answerTime`.
    void NoteRequestSent(Milliseconds answerTime) { sentAnswerTime_ = answerTime; }

    // The quiet period the next request has to wait for, if any; taking it clears it.
    std::optional<Milliseconds> TakeQuietPeriod() {
        std::optional<Milliseconds> period = quietPeriod_;
        quietPeriod_.reset();
        return period;
    }

    // The latest exchange's answer may come late: under LateReplies::kAwaitQuiet the next request
    // waits for its answer time, when its request went out.
    void SuspectLateReply(LateReplies rule) {
        if (rule == LateReplies::kAwaitQuiet && sentAnswerTime_) {
            quietPeriod_ = sentAnswerTime_;
        }
    }

    // The rules no longer wait for quiet: a period already due is dropped.
    void ForgetQuietPeriod() { quietPeriod_.reset(); }

  private:
    std::optional<Milliseconds> sentAnswerTime_;  // of the latest exchange, once its request went out
    std::optional<Milliseconds> quietPeriod_;     // what the next request waits for before it goes out
};

}  // namespace zendrik
