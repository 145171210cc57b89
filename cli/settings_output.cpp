#include "cli/settings_output.h"

#include <algorithm>

namespace zendrik::cli {
namespace {

constexpr std::size_t kColumnGap = 2;

}  // namespace

std::string SettingsText(std::span<const rules::Setting* const> settings,
                         const rules::ReaderSettings& values) {
    std::size_t width = 0;
    for (const rules::Setting* setting : settings) {
        width = std::max(width, setting->name.size());
    }
    std::string text;
    for (const rules::Setting* setting : settings) {
        text.append(setting->name);
        text.append(width - setting->name.size() + kColumnGap, ' ');
        text.append(setting->format(values)).append("\n");
    }
    return text;
}

}  // namespace zendrik::cli
