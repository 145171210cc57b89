#include "commands/frequency_plan.h"

#include "link/result_codes.h"
#include "rules/wire_bytes.h"

namespace zendrik {
namespace {

// Layout A region codes.
constexpr uint8_t kRegionNone = 0;
constexpr uint8_t kRegion902A = 1;
constexpr uint8_t kRegion865 = 2;
constexpr uint8_t kRegion902B = 3;
constexpr uint8_t kRegionFreePlan = 4;

// The fixed plans number their channels in 500 kHz steps: the 865 MHz plan from 865000 kHz with
// channel 0, the 902 MHz plans from 902000 kHz with channel 7.
constexpr int32_t kChannelSpacingKhz = 500;
constexpr int32_t kBase865Khz = 865000;
constexpr int32_t kBase902Khz = 902000;
constexpr int32_t kBase902Channel = 7;

// The free plan carries its step in units of 10 kHz and its start in 24 bits, high byte first.
constexpr int32_t kStepUnitKhz = 10;
using rules::kBitsPerByte;
constexpr unsigned kStartHighByte = 2;
constexpr unsigned kStartMiddleByte = 1;
constexpr unsigned kStartLowByte = 0;
using rules::kByteMask;

// Reply data positions.
constexpr std::size_t kRegionAt = 0;
constexpr std::size_t kStartChannelAt = 1;
constexpr std::size_t kEndChannelAt = 2;
constexpr std::size_t kStepUnitsAt = 1;
constexpr std::size_t kChannelCountAt = 2;
constexpr std::size_t kStartKhzAt = 3;
constexpr std::size_t kStartKhzBytes = 3;
constexpr std::size_t kFirstSettingAt = 0;
constexpr std::size_t kSecondSettingAt = 1;
// Reply data bytes each plan occupies.
constexpr std::size_t kSettingBytesLength = 2;
constexpr std::size_t kRegionOnlyLength = 1;
constexpr std::size_t kChannelRangeLength = 3;

uint8_t LowByte(int32_t value) {
    return static_cast<uint8_t>(static_cast<uint32_t>(value) & kByteMask);
}

uint8_t ByteOf(int32_t value, unsigned byteIndex) {
    return static_cast<uint8_t>((static_cast<uint32_t>(value) >> (byteIndex * kBitsPerByte)) & kByteMask);
}

int32_t BigEndian24(std::span<const uint8_t> bytes) {
    int32_t value = 0;
    for (const uint8_t byte : bytes) {
        value = (value << kBitsPerByte) | byte;
    }
    return value;
}

void DecodeChannelRange(int32_t firstChannelKhz, uint8_t startChannel, uint8_t endChannel,
                        FrequencyReading& reading) {
    reading.first = firstChannelKhz;
    reading.step = kChannelSpacingKhz;
    reading.span = static_cast<uint8_t>(endChannel - startChannel);
}

void DecodeFreePlan(std::span<const uint8_t> data, FrequencyReading& reading) {
    const int32_t step = data[kStepUnitsAt] * kStepUnitKhz;
    reading.first = BigEndian24(data.subspan(kStartKhzAt, kStartKhzBytes));
    reading.step = step;
    reading.span = LowByte(data[kChannelCountAt] * step / kChannelSpacingKhz);
}

int32_t DecodeChannelPlan(std::span<const uint8_t> data, FrequencyReading& reading) {
    const uint8_t region = data[kRegionAt];
    reading.region = region;
    const uint8_t start = data[kStartChannelAt];
    const uint8_t end = data[kEndChannelAt];
    switch (region) {
        case kRegionNone:
            break;
        case kRegion902A:
        case kRegion902B:
            DecodeChannelRange(kBase902Khz + (start - kBase902Channel) * kChannelSpacingKhz, start, end,
                               reading);
            break;
        case kRegion865:
            DecodeChannelRange(kBase865Khz + start * kChannelSpacingKhz, start, end, reading);
            break;
        case kRegionFreePlan:
            DecodeFreePlan(data, reading);
            break;
        default:
            return result::kBadReply;
    }
    reading.region = kReportedChannelPlanRegion;
    return result::kOk;
}

}  // namespace

FrequencyLayout LayoutForReaderKind(uint8_t readerKind) {
    return readerKind == kSettingBytesReaderKind ? FrequencyLayout::kSettingBytes
                                                 : FrequencyLayout::kChannelPlan;
}

void FrequencyReading::Update(const FrequencyReading& newer) {
    region = newer.region.has_value() ? newer.region : region;
    first = newer.first.has_value() ? newer.first : first;
    second = newer.second.has_value() ? newer.second : second;
    step = newer.step.has_value() ? newer.step : step;
    span = newer.span.has_value() ? newer.span : span;
}

std::array<uint8_t, kFrequencyRequestLength> EncodeFrequencyRequest(FrequencyLayout layout,
                                                                    const FrequencySettings& settings) {
    if (layout == FrequencyLayout::kSettingBytes) {
        return {LowByte(settings.first), LowByte(settings.second), 0, 0, 0};
    }
    // A layout A write carries no region code: it stands in the order of a free-plan reply without
    // its region byte, so a reader that echoes it reads back the same start, step and span.
    return {LowByte(settings.step / kStepUnitKhz), settings.span, ByteOf(settings.first, kStartHighByte),
            ByteOf(settings.first, kStartMiddleByte), ByteOf(settings.first, kStartLowByte)};
}

std::size_t FrequencyReplyDataNeeded(FrequencyLayout layout, uint8_t regionCode) {
    if (layout == FrequencyLayout::kSettingBytes) {
        return kSettingBytesLength;
    }
    switch (regionCode) {
        case kRegion902A:
        case kRegion865:
        case kRegion902B:
            return kChannelRangeLength;
        case kRegionFreePlan:
            return kFrequencyReplyDataLength;
        default:
            return kRegionOnlyLength;  // no plan, or a code out of range: only the code is read
    }
}

int32_t DecodeFrequencyReply(FrequencyLayout layout, std::span<const uint8_t> data,
                             FrequencyReading& reading) {
    if (data.size() < kFrequencyReplyDataLength) {
        return result::kBadReply;
    }
    if (layout == FrequencyLayout::kSettingBytes) {
        reading.region = kReportedSettingBytesRegion;
        reading.first = data[kFirstSettingAt];
        reading.second = data[kSecondSettingAt];
        return result::kOk;
    }
    return DecodeChannelPlan(data, reading);
}

}  // namespace zendrik
