#include "link/settle_override.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace zendrik {

std::optional<Milliseconds> ParseSettleOverride(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    const std::string_view digits(text);
    long long value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() || value < 0 ||
        value > kLongestSettleWait.count()) {
        return std::nullopt;
    }
    return Milliseconds{value};
}

std::optional<Milliseconds> SettleOverride() {
    static const std::optional<Milliseconds> fromEnvironment =
        ParseSettleOverride(std::getenv(kSettleVariable));
    return fromEnvironment;
}

}  // namespace zendrik
