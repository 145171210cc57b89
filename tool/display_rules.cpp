#include "tool/display_rules.h"

#include <string>
#include <vector>

#include "rules/card_number.h"
#include "rules/identity_text.h"
#include "rules/reader_settings.h"
#include "rules/value_ranges.h"

namespace zendrik::tool {
namespace {

QStringList ToStringList(const std::vector<std::string>& texts) {
    QStringList list;
    for (const std::string& text : texts) {
        list.append(QString::fromStdString(text));
    }
    return list;
}

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

WiegandDisplay WiegandDisplayFor(std::span<const uint8_t, kOutputBytesSize> wgOutBytes) {
    const rules::ValueRange starts = rules::kOutputStartRange;
    return {wgOutBytes[kOutputInverted] != 0,
            MakeListContents(NumberEntries(starts.min, starts.max), wgOutBytes[kOutputStart])};
}

ListContents WiegandStartBytes(uint8_t formatCode) {
    const int lastStart = rules::LastWiegandStartByte(formatCode).value_or(kNoSelection);
    return MakeListContents(NumberEntries(0, lastStart), 0);
}

std::optional<ListContents> PowerListFor(uint8_t readerKind, uint8_t power) {
    const std::optional<rules::ValueRange> range = rules::PowerRangeOf(readerKind);
    if (!range) {
        return std::nullopt;
    }
    return MakeListContents(NumberEntries(range->min, range->max), power - range->min);
}

QStringList BandListEntries(const rules::FrequencyBand& band) {
    return ToStringList(rules::BandEntries(band));
}

ChannelLists ChannelListsFor(int region, int startIndex, int endIndex) {
    const QStringList entries = ToStringList(rules::ChannelEntries(region));
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
        ChannelLists lists = ChannelListsFor(rules::kDefaultChannelRegion, startIndex, endIndex);
        return {std::nullopt, std::move(lists.start), std::move(lists.end), true};
    }
    const rules::FrequencyBand& band = rules::BandOfLowerFrequency(report.first);
    // The reader may report any 32-bit frequency; the index of one far outside the band selects
    // nothing.
    const auto startIndex = static_cast<int>(rules::BandIndexOf(band, report.first));
    const bool connectForm = form == FrequencyForm::kConnect;
    FrequencyDisplay display{std::nullopt, MakeListContents(BandListEntries(band), startIndex),
                             MakeListContents(BandListEntries(band), startIndex + report.span), connectForm};
    if (connectForm) {
        display.fccChecked = &band == &rules::kFccBand;
    }
    return display;
}

QString HexPair(uint8_t value) {
    return QString::fromStdString(rules::HexText(std::span(&value, 1)));
}

QString PasswordText(std::span<const uint8_t, kPasswordBytes> password) {
    return QString::fromStdString(rules::PasswordText(password));
}

QString SerialNumberText(std::span<const uint8_t> serialNumber) {
    return QString::fromStdString(rules::SerialNumberText(serialNumber));
}

}  // namespace zendrik::tool
