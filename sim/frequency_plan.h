#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zendrik::sim {

// The frequency plan as readers of kinds 0 and 1 keep it (layout A). Regions 1 and 3 number
// channels from 902000 kHz at channel 7, region 2 from 865000 kHz at channel 0, both 500 kHz
// apart; region 4 is a free plan of a start frequency, a step and a channel count. Other region
// codes are reported as they are, with nothing after them.
struct FrequencyPlanA {
    uint8_t region = 0;
    uint8_t startChannel = 0;  // regions 1 to 3
    uint8_t endChannel = 0;
    uint8_t stepTens = 0;  // region 4: the step in units of 10 kHz
    uint8_t channelCount = 0;
    uint32_t startKhz = 0;  // 24 bits on the wire

    bool operator==(const FrequencyPlanA&) const = default;
};

// The plan as readers of kind 2 keep it (layout B): two setting bytes, the first and the last
// channel of the reader's channel list, counted from 1.
struct FrequencyPlanB {
    uint8_t first = 0;
    uint8_t second = 0;

    bool operator==(const FrequencyPlanB&) const = default;
};

inline constexpr uint8_t kRegionFccFromChannel7 = 1;
inline constexpr uint8_t kRegionEtsiFromChannel0 = 2;
inline constexpr uint8_t kRegionFccAlternate = 3;
inline constexpr uint8_t kRegionFree = 4;

// Data of the reply to a plan read.
std::vector<uint8_t> EncodePlanA(const FrequencyPlanA& plan);
std::vector<uint8_t> EncodePlanB(const FrequencyPlanB& plan);

// The plan a write sets. Layout A carries step / 10, the span in 500 kHz steps and the start
// frequency (24 bits, most significant byte first) and becomes a region 4 plan. Its channel count
// is the smallest n whose coverage (n * step) / 500 equals the span, which is what the library
// computes from the read-back; a plan for which no such n fits a byte, or with a zero step, is
// refused. Layout B carries the two setting bytes and three zeros.
std::optional<FrequencyPlanA> DecodePlanAWrite(std::span<const uint8_t> data);
std::optional<FrequencyPlanB> DecodePlanBWrite(std::span<const uint8_t> data);

}  // namespace zendrik::sim
