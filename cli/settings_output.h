#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "cli/reader_settings.h"
#include "cli/settings_table.h"

namespace zendrik::cli {

// "name  value" lines, names aligned, for the settings given.
std::string SettingsText(std::span<const Setting* const> settings, const ReaderSettings& values);

// {"reader-kind": k, "name": value, ...}: numbers for numeric settings, text for the others.
nlohmann::ordered_json SettingsJson(uint8_t kind, std::span<const Setting* const> settings,
                                    const ReaderSettings& values);

}  // namespace zendrik::cli
