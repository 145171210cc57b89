#include "sim/frequency_plan.h"

#include <limits>

#include "rules/wire_bytes.h"

namespace zendrik::sim {
namespace {

// Both layouts write five data bytes.
constexpr std::size_t kPlanWriteLength = 5;
constexpr uint32_t kKhzPerTen = 10;
// The span counts steps of this size, whatever the plan's own step.
constexpr uint32_t kSpanUnitKhz = 500;
using rules::kBitsPerByte;
using rules::kByteMask;

// Write data of layout A: step / 10, span, start frequency bits 23-16, 15-8, 7-0.
constexpr std::size_t kWriteStep = 0;
constexpr std::size_t kWriteSpan = 1;
constexpr std::size_t kWriteStart = 2;
constexpr std::size_t kStartBytes = 3;
// Write data of layout B: the two setting bytes, then three zeros.
constexpr std::size_t kWriteFirst = 0;
constexpr std::size_t kWriteSecond = 1;

std::optional<uint8_t> ChannelCountForSpan(uint32_t stepKhz, uint8_t span) {
    for (uint32_t count = 0; count <= std::numeric_limits<uint8_t>::max(); ++count) {
        if (count * stepKhz / kSpanUnitKhz == span) {
            return static_cast<uint8_t>(count);
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<uint8_t> EncodePlanA(const FrequencyPlanA& plan) {
    switch (plan.region) {
        case kRegionFccFromChannel7:
        case kRegionEtsiFromChannel0:
        case kRegionFccAlternate:
            return {plan.region, plan.startChannel, plan.endChannel};
        case kRegionFree: {
            std::vector<uint8_t> data{plan.region, plan.stepTens, plan.channelCount};
            for (std::size_t index = kStartBytes; index-- > 0;) {
                data.push_back(static_cast<uint8_t>((plan.startKhz >> (index * kBitsPerByte)) & kByteMask));
            }
            return data;
        }
        default:
            return {plan.region};
    }
}

std::vector<uint8_t> EncodePlanB(const FrequencyPlanB& plan) {
    return {plan.first, plan.second};
}

std::optional<FrequencyPlanA> DecodePlanAWrite(std::span<const uint8_t> data) {
    if (data.size() != kPlanWriteLength || data[kWriteStep] == 0) {
        return std::nullopt;
    }
    const uint32_t stepKhz = data[kWriteStep] * kKhzPerTen;
    const std::optional<uint8_t> count = ChannelCountForSpan(stepKhz, data[kWriteSpan]);
    if (!count) {
        return std::nullopt;
    }
    uint32_t startKhz = 0;
    for (std::size_t index = 0; index < kStartBytes; ++index) {
        startKhz = (startKhz << kBitsPerByte) | data[kWriteStart + index];
    }
    FrequencyPlanA plan;
    plan.region = kRegionFree;
    plan.stepTens = data[kWriteStep];
    plan.channelCount = *count;
    plan.startKhz = startKhz;
    return plan;
}

std::optional<FrequencyPlanB> DecodePlanBWrite(std::span<const uint8_t> data) {
    if (data.size() != kPlanWriteLength) {
        return std::nullopt;
    }
    return FrequencyPlanB{data[kWriteFirst], data[kWriteSecond]};
}

}  // namespace zendrik::sim
