#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zendrik::daemon {

// How one attempt to deliver a batch ended, as the transfer saw it.
enum class TransportOutcome {
    kAnswered,  // an HTTP status came back
    kTimeout,   // no whole answer within the time-out
    kRefused,   // nobody listens (or the host is not reached)
    kClosed,    // the connection ended before an answer
    kTls,       // the TLS handshake failed: certificate, CA, protocol
    kOther,     // anything else the transfer reports
};

struct AttemptResult {
    TransportOutcome outcome = TransportOutcome::kAnswered;
    long status = 0;                                 // kAnswered: the HTTP status
    std::optional<std::chrono::seconds> retryAfter;  // the answer's Retry-After, when it had one
};

enum class Verdict {
    kDelivered,   // the receiver has the batch: its rows are acknowledged
    kRetry,       // the same batch again after `wait`
    kDeadLetter,  // the receiver will never take it
};

struct Decision {
    Verdict verdict = Verdict::kDelivered;
    std::chrono::milliseconds wait{0};
    std::string reason;  // for the errors' metric label: "timeout", "http-5xx", ...; empty when delivered
};

// What one output remembers between the attempts at one batch.
struct RetryState {
    unsigned failures = 0;      // attempts in a row that failed (any reason)
    unsigned clientErrors = 0;  // of them answered with a 4xx that is not retried for ever
};

// 1 s before the first retry, doubled with each failure after it, held at 60 s.
inline constexpr std::chrono::milliseconds kFirstRetryWait{1000};
inline constexpr std::chrono::milliseconds kLongestRetryWait{60000};
// A Retry-After of 0 is held to a second, so that a receiver saying it each time is not hammered;
// one longer than the second bound is held to it: a receiver's typo does not park the output for days.
inline constexpr std::chrono::seconds kShortestRetryAfter{1};
// (see above) is held to it: a receiver's typo does not park the output for days.
inline constexpr std::chrono::seconds kLongestRetryAfter{3600};
// A client error (4xx other than 408 and 429) is tried this many times in all, then dead-lettered.
inline constexpr unsigned kClientErrorAttempts = 3;

// The wait before the retry that follows `failures` failed attempts (at least 1).
std::chrono::milliseconds RetryWait(unsigned failures);

// What to do after an attempt: 2xx delivers; 408, 429, 5xx and every transport failure are tried
// again after the back-off (or the answer's Retry-After, when it says one); any other status is tried
// kClientErrorAttempts times in all, then the batch goes to the dead letters. `state` is updated:
// counted on a failure, cleared on a delivery or a dead letter (the next batch starts afresh).
Decision Decide(const AttemptResult& result, RetryState& state);

// A Retry-After value: delay-seconds, or an HTTP date (IMF-fixdate, "Sun, 06 Nov 1994 08:49:37
// GMT") taken against `nowUnixSeconds`. Nothing for a value that is neither; a date in the past is
// 0 s.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, int64_t nowUnixSeconds);

}  // namespace zendrik::daemon
