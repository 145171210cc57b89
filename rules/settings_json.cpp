#include "rules/settings_json.h"

#include <charconv>
#include <nlohmann/json.hpp>

namespace zendrik::rules {
namespace {

constexpr int kIndent = 2;
constexpr int kOneLine = -1;

nlohmann::ordered_json JsonValue(const Setting& setting, const std::string& text) {
    int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (setting.numeric && error == std::errc{} && end == text.data() + text.size()) {
        return number;
    }
    return text;
}

nlohmann::ordered_json SettingsObject(uint8_t kind, std::span<const Setting* const> settings,
                                      const ReaderSettings& values) {
    nlohmann::ordered_json json;
    json["reader-kind"] = kind;
    for (const Setting* setting : settings) {
        json[std::string(setting->name)] = JsonValue(*setting, setting->format(values));
    }
    return json;
}

}  // namespace

std::string SettingsJson(uint8_t kind, std::span<const Setting* const> settings,
                         const ReaderSettings& values) {
    return SettingsObject(kind, settings, values).dump(kIndent);
}

std::string SettingsJson(uint8_t kind, const ReaderSettings& values) {
    return SettingsJson(kind, SettingsFor(kind), values);
}

std::string SettingsJsonLine(uint8_t kind, const ReaderSettings& values) {
    return SettingsObject(kind, SettingsFor(kind), values).dump(kOneLine);
}

std::string PlanDifferencesJson(const ChangePlan& plan, const ReaderSettings& current) {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    for (const Setting* setting : plan.named) {
        const std::string want = setting->format(plan.target);
        const std::string have = setting->format(current);
        if (want != have) {
            json[std::string(setting->name)] = {{"want", JsonValue(*setting, want)},
                                                {"have", JsonValue(*setting, have)}};
        }
    }
    return json.dump(kOneLine);
}

}  // namespace zendrik::rules
