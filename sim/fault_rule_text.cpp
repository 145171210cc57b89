#include "sim/fault_rule_text.h"

#include <charconv>
#include <cstdint>

namespace zendrik::sim {
namespace {

constexpr std::size_t kDefaultStrayCount = 2;
constexpr std::chrono::milliseconds kDefaultLateDelay{1500};
constexpr std::size_t kDefaultKeptBytes = 4;
constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr std::string_view kHexPrefix = "0x";
constexpr char kShortFamilyPrefix = 's';

// Cuts `text` at the last `separator`: returns what follows it, or nothing when it is absent.
std::optional<std::string_view> CutSuffix(std::string_view& text, char separator) {
    const std::size_t at = text.rfind(separator);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view suffix = text.substr(at + 1);
    text = text.substr(0, at);
    return suffix;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
    int base = kDecimalBase;
    if (text.starts_with(kHexPrefix)) {
        text.remove_prefix(kHexPrefix.size());
        base = kHexBase;
    }
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

template <typename Number>
std::optional<Number> ValueOr(const std::optional<std::string_view>& value, Number fallback) {
    return value ? ParseNumber<Number>(*value) : std::optional<Number>(fallback);
}

std::optional<Fault> ParseFault(std::string_view kind, const std::optional<std::string_view>& value) {
    if (kind == "silence" && !value) {
        return Fault::Silence();
    }
    if (kind == "crc" && !value) {
        return Fault::CorruptCrc();
    }
    if (kind == "status" && value) {
        const std::optional<uint8_t> status = ParseNumber<uint8_t>(*value);
        return status ? std::optional(Fault::Status(*status)) : std::nullopt;
    }
    if (kind == "stray") {
        const std::optional<std::size_t> count = ValueOr(value, kDefaultStrayCount);
        return count ? std::optional(Fault::StrayBytes(*count)) : std::nullopt;
    }
    if (kind == "late") {
        const std::optional<unsigned> delay =
            ValueOr(value, static_cast<unsigned>(kDefaultLateDelay.count()));
        return delay ? std::optional(Fault::Late(std::chrono::milliseconds{*delay})) : std::nullopt;
    }
    if (kind == "short") {
        const std::optional<std::size_t> kept = ValueOr(value, kDefaultKeptBytes);
        return kept ? std::optional(Fault::CutShort(*kept)) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<FaultTarget> ParseTarget(std::string_view text) {
    FrameFamily family = FrameFamily::kStandard;
    if (!text.empty() && text.front() == kShortFamilyPrefix) {
        family = FrameFamily::kShort;
        text.remove_prefix(1);
    }
    const std::optional<uint8_t> command = ParseNumber<uint8_t>(text);
    return command ? std::optional(FaultTarget::Command(*command, family)) : std::nullopt;
}

}  // namespace

std::optional<FaultRule> ParseFaultRule(std::string_view text) {
    FaultRule rule;
    if (const std::optional<std::string_view> count = CutSuffix(text, '*')) {
        rule.remaining = ParseNumber<unsigned>(*count);
        if (!rule.remaining || *rule.remaining == 0) {
            return std::nullopt;
        }
    }
    if (const std::optional<std::string_view> command = CutSuffix(text, '@')) {
        const std::optional<FaultTarget> target = ParseTarget(*command);
        if (!target) {
            return std::nullopt;
        }
        rule.target = *target;
    }
    const std::optional<std::string_view> value = CutSuffix(text, '=');
    const std::optional<Fault> fault = ParseFault(text, value);
    if (!fault) {
        return std::nullopt;
    }
    rule.fault = *fault;
    return rule;
}

}  // namespace zendrik::sim
