#pragma once

#include <chrono>

namespace zendrik::daemon {

struct BackoffPolicy {
    std::chrono::milliseconds first{100};
    std::chrono::milliseconds ceiling{5000};
};

// The wait before reconnect attempt number `failures` + 1, after `failures` attempts in a row that
// failed (0 after a success: the next failure starts again at `first`). The base doubles with
// every failure up to `ceiling`; the wait is drawn from the upper half of the base by `random01`
// (in [0, 1)), so that daemons cut off together do not come back in step.
std::chrono::milliseconds ReconnectDelay(unsigned failures, const BackoffPolicy& policy, double random01);

// Counts failures in a row and draws the jitter; a success resets it.
class Backoff {
  public:
    explicit Backoff(BackoffPolicy policy) : policy_(policy) {}

    std::chrono::milliseconds NextDelay();
    void Succeeded() { failures_ = 0; }
    unsigned failures() const { return failures_; }

  private:
    BackoffPolicy policy_;
    unsigned failures_ = 0;
};

}  // namespace zendrik::daemon
