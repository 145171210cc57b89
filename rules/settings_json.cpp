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

// Words saying what a value is, from the table's help: the part in parentheses of "RANGE (WORDS)",
// the whole help of a text; nothing where the range or the choices say it all.
std::string HintOf(const Setting& setting) {
    const std::string_view help = setting.values;
    const std::size_t open = help.find('(');
    if (setting.domain.type == SettingDomain::Type::kText) {
        return std::string(help);
    }
    if (open == std::string_view::npos || help.back() != ')' ||
        help.find('(', open + 1) != std::string_view::npos) {
        return {};
    }
    return std::string(help.substr(open + 1, help.size() - open - 2));
}

nlohmann::ordered_json DomainJson(const Setting& setting, uint8_t kind) {
    nlohmann::ordered_json json;
    const SettingDomain& domain = setting.domain;
    const std::optional<ValueRange> range = domain.range != nullptr ? domain.range(kind) : std::nullopt;
    switch (domain.type) {
        case SettingDomain::Type::kInteger:
            json["type"] = "integer";
            if (range) {
                json["min"] = range->min;
                json["max"] = range->max;
            }
            break;
        case SettingDomain::Type::kChoice:
            json["type"] = "choice";
            json["choices"] = domain.choices;
            break;
        case SettingDomain::Type::kText:
            json["type"] = "text";
            break;
    }
    if (const std::string hint = HintOf(setting); !hint.empty()) {
        json["hint"] = hint;
    }
    // Shown only: a setting that follows from another, or an integer the kind has no range for.
    if (setting.parse == nullptr || (domain.type == SettingDomain::Type::kInteger && !range)) {
        json["settable"] = false;
    }
    return json;
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

std::string SettingsSchemaJson(uint8_t kind) {
    nlohmann::ordered_json json;
    json["reader-kind"] = {{"type", "integer"}, {"settable", false}};
    for (const Setting* setting : SettingsFor(kind)) {
        json[std::string(setting->name)] = DomainJson(*setting, kind);
    }
    return json.dump();
}

}  // namespace zendrik::rules
