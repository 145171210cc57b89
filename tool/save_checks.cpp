#include "tool/save_checks.h"

#include "tool/card_number.h"
#include "tool/display_rules.h"
#include "tool/frequency_plan.h"

namespace zendrik::tool {
namespace {

constexpr uint8_t kMinWiegandInterval = 1;
constexpr uint8_t kMaxWiegandInterval = 20;
constexpr uint8_t kMinTriggerTime = 1;
// 255 is refused although the read-time label offers it.
constexpr uint8_t kMaxTriggerTime = 254;
// The Wiegand value must lie within the reader's 12-byte EPC window: 3 bytes for Wiegand 26,
// 4 for Wiegand 34.
constexpr int kMaxWiegand26StartByte = 9;
constexpr int kMaxWiegand34StartByte = 8;

bool FrequencyRefused(const SaveInputs& inputs) {
    // Writing an unselected entry would put a frequency outside the band (or channel 0) into the reader.
    if (inputs.frequencyStart == kNoSelection || inputs.frequencyEnd == kNoSelection) {
        return true;
    }
    return inputs.readerKind != kChannelReaderKind && inputs.frequencyEnd < inputs.frequencyStart;
}

bool StartByteRefused(const SaveInputs& inputs) {
    // Without a selection the start byte would be written as 255.
    return inputs.startByte == kNoSelection ||
           (inputs.usb && ((inputs.wiegand34 && inputs.startByte > kMaxWiegand34StartByte) ||
                           (inputs.wiegand26 && inputs.startByte > kMaxWiegand26StartByte)));
}

bool LengthRefused(const SaveInputs& inputs) {
    // Without a selection the reader would be told to send no bytes at all.
    return !inputs.usb && (inputs.lengthIndex == kNoSelection ||
                           inputs.startByte + inputs.lengthIndex + 1 > static_cast<int>(kEpcWindowSize));
}

// Save writes the power for the reader kinds that have a power list.
bool ReaderKindWritesPower(uint8_t readerKind) {
    return readerKind == kReaderKind0 || readerKind == kReaderKind1 || readerKind == kChannelReaderKind;
}

bool PowerRefused(const SaveInputs& inputs) {
    // A reader that reports a power outside the kind's list leaves it without a selection; writing
    // that would send index -1 (255, or 17 for kind 1) as the power.
    return inputs.powerIndex == kNoSelection && ReaderKindWritesPower(inputs.readerKind);
}

}  // namespace

std::optional<SaveRefusal> FirstSaveRefusal(const SaveInputs& inputs) {
    if (inputs.wiegandInterval < kMinWiegandInterval || inputs.wiegandInterval > kMaxWiegandInterval) {
        return SaveRefusal::kOutputTime;
    }
    if (inputs.triggerTime < kMinTriggerTime || inputs.triggerTime > kMaxTriggerTime) {
        return SaveRefusal::kReadTime;
    }
    if (FrequencyRefused(inputs)) {
        return SaveRefusal::kFrequency;
    }
    if (StartByteRefused(inputs)) {
        return SaveRefusal::kStartBytes;
    }
    if (LengthRefused(inputs)) {
        return SaveRefusal::kLengthBytes;
    }
    if (PowerRefused(inputs)) {
        return SaveRefusal::kPower;
    }
    return std::nullopt;
}

std::optional<BandPlanWrite> BandPlanFor(bool fcc, int startIndex, int endIndex) {
    const FrequencyBand& band = fcc ? kFccBand : kEtsiBand;
    if (!fcc && endIndex >= band.entries) {
        return std::nullopt;
    }
    return BandPlanWrite{BandFrequencyAt(band, startIndex), BandFrequencyAt(band, endIndex), band.stepKhz,
                         static_cast<uint8_t>(endIndex - startIndex)};
}

}  // namespace zendrik::tool
