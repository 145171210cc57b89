#include "tool/display_rules.h"

#include <algorithm>

#include "tool/card_number.h"
#include "tool/frequency_plan.h"

namespace zendrik::tool {
namespace {

constexpr int kHexBase = 16;
constexpr int kHexPairWidth = 2;

struct PowerRange {
    uint8_t readerKind;
    int lowest;
    int highest;
};
constexpr PowerRange kPowerRanges[] = {
    {kReaderKind0, 0, 33},
    {kReaderKind1, 18, 26},
    {kChannelReaderKind, 0, 63},
};

}  // namespace

QStringList NumberEntries(int lowest, int highest) {
    QStringList entries;
    for (int value = lowest; value <= highest; ++value) {
        entries.append(QString::number(value));
    }
    return entries;
}

ListContents MakeListContents(QStringList entries, int selectedIndex) {
    const bool valid = selectedIndex >= 0 && selectedIndex < entries.size();
    return {std::move(entries), valid ? selectedIndex : kNoSelection};
}

WiegandDisplay WiegandDisplayFor(std::span<const uint8_t, kWgOutBytesSize> wgOutBytes) {
    return {
        wgOutBytes[kWgInvertedByte] != 0,
        MakeListContents(NumberEntries(0, static_cast<int>(kEpcWindowSize) - 1), wgOutBytes[kWgStartByte])};
}

std::optional<ListContents> PowerListFor(uint8_t readerKind, uint8_t power) {
    for (const PowerRange& range : kPowerRanges) {
        if (range.readerKind == readerKind) {
            return MakeListContents(NumberEntries(range.lowest, range.highest), power - range.lowest);
        }
    }
    return std::nullopt;
}

ChannelLists ChannelListsFor(int region, int startIndex, int endIndex) {
    const QStringList entries = ChannelEntries(region);
    if (startIndex == kNoSelection && endIndex == kNoSelection) {
        startIndex = 0;
        endIndex = static_cast<int>(entries.size()) - 1;
    }
    return {MakeListContents(entries, startIndex), MakeListContents(entries, endIndex)};
}

FrequencyDisplay FrequencyDisplayFor(uint8_t readerKind, const FrequencyReport& report, FrequencyForm form) {
    if (readerKind == kChannelReaderKind) {
        // Channels are reported counted from 1 in a byte; channel 0 wraps to 255 and selects nothing.
        const auto startIndex = static_cast<uint8_t>(static_cast<uint8_t>(report.first) - 1);
        const auto endIndex = static_cast<uint8_t>(static_cast<uint8_t>(report.second) - 1);
        ChannelLists lists = ChannelListsFor(kDefaultChannelRegion, startIndex, endIndex);
        return {std::nullopt, std::move(lists.start), std::move(lists.end), true};
    }
    const FrequencyBand& band = BandForLowerFrequency(report.first);
    // Widened: the reader may report any 32-bit frequency, and the distance from the band's start
    // must not overflow. The index of a frequency far outside the band selects nothing.
    const auto startIndex =
        static_cast<int>((static_cast<int64_t>(report.first) - band.firstKhz) / band.stepKhz);
    const bool connectForm = form == FrequencyForm::kConnect;
    FrequencyDisplay display{std::nullopt, MakeListContents(BandEntries(band), startIndex),
                             MakeListContents(BandEntries(band), startIndex + report.span), connectForm};
    if (connectForm) {
        display.fccChecked = &band == &kFccBand;
    }
    return display;
}

QString HexPair(uint8_t value) {
    return QStringLiteral("%1").arg(static_cast<uint>(value), kHexPairWidth, kHexBase, QChar(u'0'));
}

QString PasswordText(std::span<const uint8_t, kPasswordSize> password) {
    return HexPairsText(password);
}

QString SerialNumberText(std::span<const uint8_t> serialNumber) {
    return QStringLiteral("SN:") +
           HexPairsText(serialNumber.first(std::min(serialNumber.size(), kSerialNumberShownBytes)));
}

}  // namespace zendrik::tool
