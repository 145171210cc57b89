#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The reader's frequency plan: two bands in kHz for reader kinds 0 and 1, numbered channels of a
// frequency region for kind 2, and the plan as the frequency commands carry it.
namespace zendrik::rules {

// Bands are raster of 500 kHz; a plan's span counts these steps.
inline constexpr int32_t kBandStepKhz = 500;

struct FrequencyBand {
    std::string_view name;
    int32_t firstKhz;
    int32_t stepKhz;
    int entries;

    constexpr int32_t LastKhz() const { return firstKhz + stepKhz * (entries - 1); }
};
inline constexpr FrequencyBand kFccBand{"fcc", 902000, kBandStepKhz, 53};   // 902000 .. 928000 kHz
inline constexpr FrequencyBand kEtsiBand{"etsi", 865000, kBandStepKhz, 7};  // 865000 .. 868000 kHz

// A plan's lower frequency below the FCC band's start belongs to the ETSI band.
const FrequencyBand& BandOfLowerFrequency(int32_t lowerKhz);
int32_t BandFrequencyAt(const FrequencyBand& band, int index);
// The entry index of a frequency, truncated toward zero; far outside the band it is far outside
// the entries, without overflow.
int64_t BandIndexOf(const FrequencyBand& band, int32_t khz);
// A frequency that is one of the band's entries.
bool OnBandGrid(const FrequencyBand& band, int32_t khz);
// The band's entries: each frequency in kHz as decimal text.
std::vector<std::string> BandEntries(const FrequencyBand& band);

// One row of the frequency region table that numbers the channels of kind-2 readers.
struct FrequencyRegion {
    std::string_view name;
    int32_t channels;
    int32_t stepKhz;
    int32_t firstKhz;
};
inline constexpr int kFrequencyRegionCount = 25;
// Row 5 has no channels and row 14 holds -1 in all three numbers: neither offers a channel.
// Row 22 (Canada) starts with three channels off its raster (see ChannelFrequencyKhz).
inline constexpr std::array<FrequencyRegion, kFrequencyRegionCount> kFrequencyRegions{{
    {"00---FCC(American)", 63, 400, 902600},
    {"01---ETSI EN 300-220(Europe300-220)", 11, 200, 865500},
    {"02---ETSI EN 302-208(Europe302-208)", 4, 600, 865700},
    {"03---HK920-925(Hong Kong)", 10, 500, 920250},
    {"04---TaiWan 922-928(Taiwan)", 12, 500, 922250},
    {"05---Japan 952-954(Japan)", 0, 0, 0},
    {"06---Japan 952-955(Japan)", 14, 200, 952200},
    {"07---ETSI EN 302-208(Europe)", 4, 600, 865700},
    {"08---Korea 917-921(Korea)", 6, 600, 917300},
    {"09---Malaysia 919-923(Malaysia)", 8, 500, 919250},
    {"10--China 920-925(China)", 16, 250, 920625},
    {"11--Japan 952-956(Japan)", 4, 1200, 952400},
    {"12--South Africa 915-919(Poncho)", 17, 200, 915600},
    {"13--Brazil 902-907/915-928(Brazil)", 35, 500, 902750},
    {"14--Thailand 920-925(Thailand)", -1, -1, -1},
    {"15--Singapore 920-925(Singapore)", 10, 500, 920250},
    {"16--Australia 920-926(Australia)", 12, 500, 920250},
    {"17--India 865-867(India)", 4, 600, 865100},
    {"18--Uruguay 916-928(Uruguay)", 23, 500, 916250},
    {"19--Vietnam 920-925(Vietnam)", 10, 500, 920250},
    {"20--Israel 915-917", 1, 0, 916250},
    {"21--Philippines 918-920(Philippines)", 4, 500, 918250},
    {"22--Canada 902-928(Canada)", 42, 500, 902750},
    {"23--Indonesia 923-925(Indonesia)", 4, 500, 923250},
    {"24--New Zealand 921.5-928(New Zealand)", 11, 500, 922250},
}};
// The region every kind-2 reader's channels are numbered by, and its channels counted from 1.
inline constexpr int kDefaultChannelRegion = 0;
inline constexpr int32_t kFirstChannel = 1;
inline constexpr int32_t kLastChannel = kFrequencyRegions[kDefaultChannelRegion].channels;

// The channels of a region; 0 outside the table or for a row without channels.
int32_t ChannelCount(int region);
// Frequency of a channel (counted from 1) of a region in the table.
int32_t ChannelFrequencyKhz(int region, int channel);
// The channel entries of a region, "01--902600" and so on; empty for a region outside the table
// or one without channels.
std::vector<std::string> ChannelEntries(int region);

// The frequency plan as UhfGetFrequencyRegion reports it and UhfSetFrequencyRegion takes it.
// Kind-2 readers: first and second are the first and last channel. Other kinds: first is the
// lower frequency in kHz, span the number of 500 kHz steps to the upper one, second the upper
// frequency where the caller gives it (a read does not report it).
struct FrequencyPlan {
    uint8_t region = 0;
    int32_t first = 0;
    int32_t second = 0;
    int32_t step = 0;
    uint8_t span = 0;

    bool operator==(const FrequencyPlan&) const = default;
};
// The region codes of a write: a band (layout of kinds 0 and 1) or channels (kind 2).
inline constexpr uint8_t kBandRegion = 4;
inline constexpr uint8_t kChannelRegion = 5;

// From lower to upper, both on the 500 kHz raster.
FrequencyPlan BandPlan(int32_t lowerKhz, int32_t upperKhz);
// Entries `startIndex` to `endIndex` of a band; nothing when either lies outside it.
std::optional<FrequencyPlan> BandPlanOfEntries(const FrequencyBand& band, int startIndex, int endIndex);
FrequencyPlan ChannelPlan(int32_t firstChannel, int32_t lastChannel);
// The upper frequency of a band plan: lower + span steps.
int32_t UpperFrequencyKhz(const FrequencyPlan& plan);
// The arguments UhfSetFrequencyRegion is given for a plan on a reader of `kind`.
FrequencyPlan FrequencyWriteFor(uint8_t kind, const FrequencyPlan& plan);

}  // namespace zendrik::rules
