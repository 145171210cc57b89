#pragma once

#include <chrono>

// How long a lost connection waits before each attempt to connect again: the reader links of the
// library and the daemon's broker connection both back off this way.
namespace zendrik::base {

struct BackoffPolicy {
    std::chrono::milliseconds first{100};
    std::chrono::milliseconds ceiling{5000};
};

// The wait before the attempt that follows `failures` failed ones in a row (0 for the first after
// a loss or a success). The base is `first`, doubled with every failure (never multiplied by the
// count or its square) and held at `ceiling`. `random01` in [0, 1) takes up to half of the base
// off: 0 gives the whole base, values towards 1 almost half of it. So connections lost together
// (a switch or a hub going down, a broker restarting) do not all come back in step, and none ever
// waits less than half its base. Values outside [0, 1] are held to it; a wait is at least 1 ms.
std::chrono::milliseconds ReconnectDelay(unsigned failures, const BackoffPolicy& policy, double random01);

// Counts the failures in a row; a success (or a connection that was up and is lost) starts again.
class Backoff {
  public:
    explicit Backoff(BackoffPolicy policy) : policy_(policy) {}

    // The next wait, with `random01` as ReconnectDelay takes it, and one failure more counted.
    std::chrono::milliseconds NextDelay(double random01);
    // The same, with a random number of its own.
    std::chrono::milliseconds NextDelay();
    void Succeeded() { failures_ = 0; }
    unsigned failures() const { return failures_; }

  private:
    BackoffPolicy policy_;
    unsigned failures_ = 0;
};

}  // namespace zendrik::base
