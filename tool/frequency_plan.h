#pragma once

#include <QStringList>
#include <array>
#include <cstdint>

namespace zendrik::tool {

// A fixed band of frequencies offered in kHz, 500 kHz apart (readers of kinds 0 and 1).
struct FrequencyBand {
    int32_t firstKhz;
    int32_t stepKhz;
    int entries;
};

inline constexpr FrequencyBand kFccBand{902000, 500, 53};  // 902000 .. 928000 kHz
inline constexpr FrequencyBand kEtsiBand{865000, 500, 7};  // 865000 .. 868000 kHz

// A reported lower frequency below the FCC band's start belongs to the ETSI band.
const FrequencyBand& BandForLowerFrequency(int32_t lowerKhz);
int32_t BandFrequencyAt(const FrequencyBand& band, int index);
// The list entries of a band: each frequency in kHz as decimal text.
QStringList BandEntries(const FrequencyBand& band);

// What the FCC and ETSI radios put into the frequency lists: the band and the default selection.
struct BandRadioPlan {
    FrequencyBand band;
    int startIndex;
    int endIndex;
};
inline constexpr BandRadioPlan kFccRadioPlan{kFccBand, 0, 30};   // 902000 .. 917000 kHz
inline constexpr BandRadioPlan kEtsiRadioPlan{kEtsiBand, 0, 3};  // 865000 .. 866500 kHz

// One row of the channel table used by readers of kind 2, which select numbered channels.
struct FrequencyRegion {
    const char* name;
    int32_t channels;
    int32_t stepKhz;
    int32_t firstKhz;
};

inline constexpr int kFrequencyRegionCount = 25;
extern const std::array<FrequencyRegion, kFrequencyRegionCount> kFrequencyRegions;

// The region every kind-2 reader is shown with.
inline constexpr int kDefaultChannelRegion = 0;

// Frequency of a channel (counted from 1) of a region.
int32_t ChannelFrequencyKhz(int region, int channel);
// The channel entries of a region, "01--902600" and so on; empty for a region outside the table
// or one without channels.
QStringList ChannelEntries(int region);

}  // namespace zendrik::tool
