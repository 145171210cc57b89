#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "rules/settings_table.h"

// The settings as the JSON object that `zendrik config --json` prints and the session layer hands
// out, so that both give the same text.
namespace zendrik::rules {

// {"reader-kind": k, "name": value, ...} indented by two, without a final newline: numbers for the
// numeric settings, text for the others and for a numeric setting holding a value the reader
// should not report ("unknown (5)").
std::string SettingsJson(uint8_t kind, std::span<const Setting* const> settings,
                         const ReaderSettings& values);

// The same for every setting shown for the reader's kind.
std::string SettingsJson(uint8_t kind, const ReaderSettings& values);

// The same object on one line, without spaces.
std::string SettingsJsonLine(uint8_t kind, const ReaderSettings& values);

// What a change would do, on one line: {"power":{"want":26,"have":33},...} for each named
// setting whose value differs from the reader's `current` one; {} when none does.
std::string PlanDifferencesJson(const ChangePlan& plan, const ReaderSettings& current);

// What each of those settings takes, for a form that offers them, compact: "type" "integer" with
// the kind's "min" and "max", "choice" with the "choices" as `zendrik set` takes them, or "text";
// "hint", words saying what the value is, where the table has them; "settable": false for what is
// shown only. {"reader-kind":{"type":"integer","settable":false},
// "buzzer":{"type":"choice","choices":["on","off"]},"trigger-time":{"type":"integer","min":1,
// "max":254,"hint":"seconds"},…}
std::string SettingsSchemaJson(uint8_t kind);

}  // namespace zendrik::rules
