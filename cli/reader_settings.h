#pragma once

#include <cstdint>
#include <string>

#include "rules/reader_settings.h"

namespace zendrik::cli {

// Reads the part of `settings` that one command carries; the library's result code.
int32_t ReadSetting(rules::SettingCommand command, rules::ReaderSettings& settings);

// Reads every setting, in the order the tool reads them after connecting. On failure `failedItem`
// names the setting that could not be read and the library's code is returned.
int32_t ReadSettings(rules::ReaderSettings& settings, std::string& failedItem);

// Writes the part of `settings` that one command carries, as the tool writes it to a reader of
// `kind`; the library's result code.
int32_t WriteSetting(rules::SettingCommand command, uint8_t kind, const rules::ReaderSettings& settings);

}  // namespace zendrik::cli
