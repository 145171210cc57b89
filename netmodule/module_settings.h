#pragma once

#include <cstdint>
#include <span>

#include "netmodule/module_search.h"

namespace zendrik {

// The settings record written to a module and the settings reply read back. Their fields are an
// agreement between the caller and the module; the library passes them through unchanged.
inline constexpr std::size_t kModuleSettingsSize = 18;
inline constexpr std::size_t kModuleSettingsReplySize = 22;

// Asks the module with `moduleId` for its settings. result::kOk with `reply` filled (bytes a short
// answer does not cover are zeros), or result::kUdpNoReply with `reply` untouched.
int32_t ReadModuleSettings(SwitchingLink& link, const ModuleNetwork& network,
                           std::span<const uint8_t, kModuleIdSize> moduleId,
                           std::span<uint8_t, kModuleSettingsReplySize> reply);

// Sends a settings record to the modules and returns the answer as ReadModuleSettings does.
int32_t WriteModuleSettings(SwitchingLink& link, const ModuleNetwork& network,
                            std::span<const uint8_t, kModuleSettingsSize> settings,
                            std::span<uint8_t, kModuleSettingsReplySize> reply);

}  // namespace zendrik
