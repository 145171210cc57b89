#include "cli/settings_output.h"

#include <algorithm>
#include <charconv>

namespace zendrik::cli {
namespace {

constexpr std::size_t kColumnGap = 2;

nlohmann::ordered_json JsonValue(const Setting& setting, const std::string& text) {
    int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    // A numeric setting holding a value the reader should not report stays text ("unknown (5)").
    if (setting.numeric && error == std::errc{} && end == text.data() + text.size()) {
        return number;
    }
    return text;
}

}  // namespace

std::string SettingsText(std::span<const Setting* const> settings, const ReaderSettings& values) {
    std::size_t width = 0;
    for (const Setting* setting : settings) {
        width = std::max(width, setting->name.size());
    }
    std::string text;
    for (const Setting* setting : settings) {
        text.append(setting->name);
        text.append(width - setting->name.size() + kColumnGap, ' ');
        text.append(setting->format(values)).append("\n");
    }
    return text;
}

nlohmann::ordered_json SettingsJson(uint8_t kind, std::span<const Setting* const> settings,
                                    const ReaderSettings& values) {
    nlohmann::ordered_json json;
    json["reader-kind"] = kind;
    for (const Setting* setting : settings) {
        json[std::string(setting->name)] = JsonValue(*setting, setting->format(values));
    }
    return json;
}

}  // namespace zendrik::cli
