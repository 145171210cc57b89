#include "tool/save_checks.h"

#include "rules/value_ranges.h"
#include "tool/display_rules.h"

namespace zendrik::tool {
namespace {

bool FrequencyRefused(const SaveInputs& inputs) {
    // Writing an unselected entry would put a frequency outside the band (or channel 0) into the reader.
    if (inputs.frequencyStart == kNoSelection || inputs.frequencyEnd == kNoSelection) {
        return true;
    }
    return inputs.readerKind != kChannelReaderKind && inputs.frequencyEnd < inputs.frequencyStart;
}

// Over USB the output is a Wiegand number, which must lie within the reader's EPC window.
bool WiegandStartRefused(bool checked, uint8_t formatCode, int startByte) {
    return checked && startByte > rules::LastWiegandStartByte(formatCode).value_or(kNoSelection);
}

bool StartByteRefused(const SaveInputs& inputs) {
    // Without a selection the start byte would be written as 255.
    return inputs.startByte == kNoSelection ||
           (inputs.usb && (WiegandStartRefused(inputs.wiegand34, kWiegand34Code, inputs.startByte) ||
                           WiegandStartRefused(inputs.wiegand26, kWiegand26Code, inputs.startByte)));
}

bool LengthRefused(const SaveInputs& inputs) {
    // Without a selection the reader would be told to send no bytes at all.
    return !inputs.usb && (inputs.lengthIndex == kNoSelection ||
                           !rules::OutputFitsWindow(inputs.startByte, inputs.lengthIndex + 1));
}

bool PowerRefused(const SaveInputs& inputs) {
    // A reader that reports a power outside the kind's list leaves it without a selection; writing
    // that would send index -1 (255, or 17 for kind 1) as the power. Kinds without a power range
    // get no power write.
    return inputs.powerIndex == kNoSelection && rules::PowerRangeOf(inputs.readerKind).has_value();
}

}  // namespace

std::optional<SaveRefusal> FirstSaveRefusal(const SaveInputs& inputs) {
    if (!rules::kWiegandIntervalRange.Contains(inputs.wiegandInterval)) {
        return SaveRefusal::kOutputTime;
    }
    if (!rules::kTriggerTimeRange.Contains(inputs.triggerTime)) {
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

}  // namespace zendrik::tool
