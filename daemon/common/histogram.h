#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zendrik::daemon {

// A Prometheus histogram of durations in seconds with fixed bucket bounds: counts per bucket (not
// cumulative; the exposition sums them), the number of observations and their sum.
class Histogram {
  public:
    // Upper bounds in seconds, from 1 ms to 10 s; everything above falls into +Inf only.
    static constexpr std::array<double, 12> kBounds{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                    0.1,   0.25,   0.5,   1.0,  2.5,   10.0};

    void Observe(double seconds) {
        std::size_t bucket = 0;
        while (bucket < kBounds.size() && seconds > kBounds[bucket]) {
            ++bucket;
        }
        ++counts_[bucket];
        ++count_;
        sum_ += seconds;
    }

    // Observations at or below kBounds[i], for i < kBounds.size(); the last element is +Inf.
    const std::array<uint64_t, kBounds.size() + 1>& counts() const { return counts_; }
    uint64_t count() const { return count_; }
    double sum() const { return sum_; }

  private:
    std::array<uint64_t, kBounds.size() + 1> counts_{};
    uint64_t count_ = 0;
    double sum_ = 0.0;
};

}  // namespace zendrik::daemon
