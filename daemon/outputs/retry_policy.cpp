#include "daemon/outputs/retry_policy.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>

namespace zendrik::daemon {
namespace {

constexpr long kHttpOkFirst = 200;
constexpr long kHttpOkLast = 299;
constexpr long kHttpRequestTimeout = 408;
constexpr long kHttpTooManyRequests = 429;
constexpr long kHttpServerErrorFirst = 500;
constexpr long kHttpServerErrorLast = 599;
constexpr unsigned kDoublingsMost = 16;  // far beyond the ceiling: no shift overflows

// Whether a failure of this kind may pass if tried again later, and its label.
struct Failure {
    bool transient = true;
    const char* reason = "";
};

Failure Classify(const AttemptResult& result) {
    switch (result.outcome) {
        case TransportOutcome::kTimeout:
            return {true, "timeout"};
        case TransportOutcome::kRefused:
            return {true, "refused"};
        case TransportOutcome::kClosed:
            return {true, "closed"};
        case TransportOutcome::kTls:
            return {true, "tls"};
        case TransportOutcome::kOther:
            return {true, "transport"};
        case TransportOutcome::kAnswered:
            break;
    }
    if (result.status == kHttpRequestTimeout) {
        return {true, "http-408"};
    }
    if (result.status == kHttpTooManyRequests) {
        return {true, "http-429"};
    }
    if (result.status >= kHttpServerErrorFirst && result.status <= kHttpServerErrorLast) {
        return {true, "http-5xx"};
    }
    return {false, result.status >= 400 && result.status < 500 ? "http-4xx" : "http-other"};
}

}  // namespace

std::chrono::milliseconds RetryWait(unsigned failures) {
    const unsigned doublings = std::min(failures > 0 ? failures - 1 : 0, kDoublingsMost);
    return std::min(kFirstRetryWait * (int64_t{1} << doublings), kLongestRetryWait);
}

Decision Decide(const AttemptResult& result, RetryState& state) {
    if (result.outcome == TransportOutcome::kAnswered && result.status >= kHttpOkFirst &&
        result.status <= kHttpOkLast) {
        state = RetryState{};
        return Decision{Verdict::kDelivered, {}, ""};
    }
    const Failure failure = Classify(result);
    ++state.failures;
    if (!failure.transient && ++state.clientErrors >= kClientErrorAttempts) {
        state = RetryState{};
        return Decision{Verdict::kDeadLetter, {}, failure.reason};
    }
    std::chrono::milliseconds wait = RetryWait(state.failures);
    if (result.retryAfter) {
        wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::clamp(*result.retryAfter, kShortestRetryAfter, kLongestRetryAfter));
    }
    return Decision{Verdict::kRetry, wait, failure.reason};
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, int64_t nowUnixSeconds) {
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.front())) != 0) {
        value.remove_prefix(1);
    }
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())) != 0) {
        value.remove_suffix(1);
    }
    if (value.empty()) {
        return std::nullopt;
    }
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        int64_t seconds = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (error != std::errc{} || end != value.data() + value.size()) {
            return kLongestRetryAfter;  // more digits than any sensible wait
        }
        return std::chrono::seconds{seconds};
    }
    const std::string text(value);
    std::tm when{};
    const char* end = ::strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &when);
    if (end == nullptr || *end != '\0') {
        return std::nullopt;
    }
    const int64_t at = static_cast<int64_t>(::timegm(&when));
    return std::chrono::seconds{std::max<int64_t>(0, at - nowUnixSeconds)};
}

}  // namespace zendrik::daemon
