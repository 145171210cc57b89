#pragma once

#include <span>
#include <string>

#include "rules/settings_table.h"

namespace zendrik::cli {

// "name  value" lines, names aligned, for the settings given.
std::string SettingsText(std::span<const rules::Setting* const> settings,
                         const rules::ReaderSettings& values);

}  // namespace zendrik::cli
