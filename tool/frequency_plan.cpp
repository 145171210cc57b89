#include "tool/frequency_plan.h"

#include <QString>

namespace zendrik::tool {
namespace {

// Canada's plan starts with three channels that do not follow its 500 kHz raster; channel 4 onwards
// continue from the third as if the raster had applied from channel 1.
constexpr int kIrregularRegion = 22;
constexpr std::array<int32_t, 3> kIrregularFirstChannelsKhz = {902750, 903250, 905750};
constexpr int kChannelNumberWidth = 2;
constexpr int kDecimalBase = 10;

bool IsRegion(int region) {
    return region >= 0 && region < kFrequencyRegionCount;
}

}  // namespace

const std::array<FrequencyRegion, kFrequencyRegionCount> kFrequencyRegions = {{
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

const FrequencyBand& BandForLowerFrequency(int32_t lowerKhz) {
    return lowerKhz < kFccBand.firstKhz ? kEtsiBand : kFccBand;
}

int32_t BandFrequencyAt(const FrequencyBand& band, int index) {
    return band.firstKhz + band.stepKhz * index;
}

QStringList BandEntries(const FrequencyBand& band) {
    QStringList entries;
    for (int index = 0; index < band.entries; ++index) {
        entries.append(QString::number(BandFrequencyAt(band, index)));
    }
    return entries;
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

QStringList ChannelEntries(int region) {
    QStringList entries;
    if (!IsRegion(region)) {
        return entries;
    }
    const int32_t channels = kFrequencyRegions[static_cast<std::size_t>(region)].channels;
    for (int channel = 1; channel <= channels; ++channel) {
        entries.append(QStringLiteral("%1--%2")
                           .arg(channel, kChannelNumberWidth, kDecimalBase, QChar(u'0'))
                           .arg(ChannelFrequencyKhz(region, channel)));
    }
    return entries;
}

}  // namespace zendrik::tool
