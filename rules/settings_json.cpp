#include "rules/settings_json.h"

#include <charconv>
#include <nlohmann/json.hpp>

namespace zendrik::rules {
namespace {

constexpr int kIndent = 2;

nlohmann::ordered_json JsonValue(const Setting& setting, const std::string& text) {
    int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (setting.numeric && error == std::errc{} && end == text.data() + text.size()) {
        return number;
    }
    return text;
}

}  // namespace

std::string SettingsJson(uint8_t kind, std::span<const Setting* const> settings,
                         const ReaderSettings& values) {
    nlohmann::ordered_json json;
    json["reader-kind"] = kind;
    for (const Setting* setting : settings) {
        json[std::string(setting->name)] = JsonValue(*setting, setting->format(values));
    }
    return json.dump(kIndent);
}

std::string SettingsJson(uint8_t kind, const ReaderSettings& values) {
    return SettingsJson(kind, SettingsFor(kind), values);
}

}  // namespace zendrik::rules
