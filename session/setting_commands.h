#pragma once

#include <cstdint>
#include <string>

#include "link/link.h"
#include "rules/reader_settings.h"

// The reader's settings read and written over a session's own link, one command of the settings
// record at a time, with the commands' own retries and read-back checks.
namespace zendrik::session {

// Reads the part of `settings` that `command` carries.
int32_t ReadSetting(Link& link, rules::SettingCommand command, rules::ReaderSettings& settings);

// Writes the part of `settings` that `command` carries, for a reader of `kind`.
int32_t WriteSetting(Link& link, rules::SettingCommand command, uint8_t kind,
                     const rules::ReaderSettings& settings);

// The reader's own factory reset (command 0xF7).
int32_t FactoryReset(Link& link);

// Reads every setting in the configuration tool's read order, stopping at the first failure,
// whose command `failed` then names.
int32_t ReadAllSettings(Link& link, rules::ReaderSettings& settings, rules::SettingCommand& failed);

}  // namespace zendrik::session
