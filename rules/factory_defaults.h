#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "rules/reader_settings.h"

// The factory-default sequence of the configuration tool as data: the reader's own factory reset,
// then fixed values written in a fixed order, chosen by the reader kind. Whoever holds a link
// (the command-line program through the flat API, the session layer through its own) runs the
// same steps.
namespace zendrik::rules {

inline constexpr uint8_t kFactoryAddress = 1;
inline constexpr uint8_t kFactoryWiegandInterval = 2;  // 200 ms
inline constexpr uint8_t kFactoryTriggerTime = 3;      // seconds
inline constexpr uint8_t kFactoryWiegandFormat = kWiegand26Code;
inline constexpr uint8_t kFactoryWorkMode = kWorkModeAlwaysRead;

enum class FactoryAction {
    kReset,  // the reader's own factory reset (UhfFactoryDefault)
    kWrite,  // the command with the sequence's values
    // Read the current frequency plan; only when that succeeds, write the whole band it lies in
    // (WholeBandPlan), so that the reader stays in its band.
    kWriteKeepingBand,
};

struct FactoryStep {
    FactoryAction action;
    SettingCommand command;  // what kWrite and kWriteKeepingBand write
    // The tool reports the result of the last step so marked that ran (the address, then the
    // power); the results of the other steps are not its outcome.
    bool decidesOutcome;
};

struct FactoryDefaults {
    std::vector<FactoryStep> steps;
    ReaderSettings values;  // what the kWrite steps write
};

// Reset, address 1, Wiegand output interval 2, trigger time 3, Wiegand 26, work mode always; then
// kinds 0 and 1: the whole band the reader is on and the kind's highest power; kind 2: channels
// 1 to 63 and power 63; other kinds: nothing more (the tool knows no plan or power for them).
FactoryDefaults FactoryDefaultsFor(uint8_t kind);

// The plan of a kWriteKeepingBand step: the whole band of the reader's current lower frequency.
FrequencyPlan WholeBandPlan(int32_t currentLowerKhz);

// "factory reset", or the name of the command a step writes.
std::string_view FactoryStepName(const FactoryStep& step);

}  // namespace zendrik::rules
