#pragma once

#include <cstdint>
#include <optional>

namespace zendrik::tool {

// What Save Changes checks before it writes anything. Indexes are -1 for a list without selection.
struct SaveInputs {
    uint8_t wiegandInterval = 0;  // 100 ms units
    uint8_t triggerTime = 0;      // seconds
    uint8_t readerKind = 0;
    int frequencyStart = 0;
    int frequencyEnd = 0;
    bool usb = true;
    bool wiegand26 = false;
    bool wiegand34 = false;
    int startByte = 0;
    int lengthIndex = 0;  // the Length list: index + 1 bytes
    int powerIndex = 0;
};

// Why a save is refused, in the order the checks run.
enum class SaveRefusal { kOutputTime, kReadTime, kFrequency, kStartBytes, kLengthBytes, kPower };

// The first check that fails; nothing when the settings may be written.
std::optional<SaveRefusal> FirstSaveRefusal(const SaveInputs& inputs);

}  // namespace zendrik::tool
