#include "rules/frequency_plan.h"

#include <algorithm>
#include <cstdio>

#include "rules/reader_codes.h"

namespace zendrik::rules {
namespace {

// Canada's plan starts with three channels that do not follow its 500 kHz raster; channel 4
// onwards continue from the third as if the raster had applied from channel 1.
constexpr int kIrregularRegion = 22;
constexpr std::array<int32_t, 3> kIrregularFirstChannelsKhz = {902750, 903250, 905750};

bool IsRegion(int region) {
    return region >= 0 && region < kFrequencyRegionCount;
}

std::string ChannelEntry(int channel, int32_t khz) {
    // "%02d--%d": channel numbers of three digits print in full.
    char text[sizeof "-2147483648--2147483648"];
    std::snprintf(text, sizeof text, "%02d--%d", channel, static_cast<int>(khz));
    return text;
}

}  // namespace

const FrequencyBand& BandOfLowerFrequency(int32_t lowerKhz) {
    return lowerKhz < kFccBand.firstKhz ? kEtsiBand : kFccBand;
}

int32_t BandFrequencyAt(const FrequencyBand& band, int index) {
    return band.firstKhz + band.stepKhz * index;
}

int64_t BandIndexOf(const FrequencyBand& band, int32_t khz) {
    return (static_cast<int64_t>(khz) - band.firstKhz) / band.stepKhz;
}

bool OnBandGrid(const FrequencyBand& band, int32_t khz) {
    return khz >= band.firstKhz && khz <= band.LastKhz() && (khz - band.firstKhz) % band.stepKhz == 0;
}

std::vector<std::string> BandEntries(const FrequencyBand& band) {
    std::vector<std::string> entries;
    for (int index = 0; index < band.entries; ++index) {
        entries.push_back(std::to_string(BandFrequencyAt(band, index)));
    }
    return entries;
}

int32_t ChannelCount(int region) {
    return IsRegion(region) ? std::max(kFrequencyRegions[static_cast<std::size_t>(region)].channels, 0) : 0;
}

int32_t ChannelFrequencyKhz(int region, int channel) {
    const FrequencyRegion& row = kFrequencyRegions.at(static_cast<std::size_t>(region));
    const int channelIndex = channel - 1;
    if (region != kIrregularRegion) {
        return row.firstKhz + channelIndex * row.stepKhz;
    }
    if (channelIndex < static_cast<int>(kIrregularFirstChannelsKhz.size())) {
        return kIrregularFirstChannelsKhz[static_cast<std::size_t>(channelIndex)];
    }
    return kIrregularFirstChannelsKhz.back() + channelIndex * row.stepKhz;
}

std::vector<std::string> ChannelEntries(int region) {
    std::vector<std::string> entries;
    for (int channel = kFirstChannel; channel <= ChannelCount(region); ++channel) {
        entries.push_back(ChannelEntry(channel, ChannelFrequencyKhz(region, channel)));
    }
    return entries;
}

FrequencyPlan BandPlan(int32_t lowerKhz, int32_t upperKhz) {
    return {kBandRegion, lowerKhz, upperKhz, kBandStepKhz,
            static_cast<uint8_t>((upperKhz - lowerKhz) / kBandStepKhz)};
}

std::optional<FrequencyPlan> BandPlanOfEntries(const FrequencyBand& band, int startIndex, int endIndex) {
    const auto inBand = [&band](int index) { return index >= 0 && index < band.entries; };
    if (!inBand(startIndex) || !inBand(endIndex)) {
        return std::nullopt;
    }
    return BandPlan(BandFrequencyAt(band, startIndex), BandFrequencyAt(band, endIndex));
}

FrequencyPlan ChannelPlan(int32_t firstChannel, int32_t lastChannel) {
    return {kChannelRegion, firstChannel, lastChannel, 0, 0};
}

int32_t UpperFrequencyKhz(const FrequencyPlan& plan) {
    return plan.first + plan.span * kBandStepKhz;
}

FrequencyPlan FrequencyWriteFor(uint8_t kind, const FrequencyPlan& plan) {
    if (kind == kChannelReaderKind) {
        return ChannelPlan(plan.first, plan.second);
    }
    return {kBandRegion, plan.first, UpperFrequencyKhz(plan), kBandStepKhz, plan.span};
}

}  // namespace zendrik::rules
