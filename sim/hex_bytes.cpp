#include "sim/hex_bytes.h"

#include <array>

namespace zendrik::sim {
namespace {

constexpr std::array<char, 16> kDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                       '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kNibbleMask = 0x0F;
constexpr int kDecimalDigits = 10;

std::optional<uint8_t> NibbleOf(char digit) {
    if (digit >= '0' && digit <= '9') {
        return static_cast<uint8_t>(digit - '0');
    }
    if (digit >= 'a' && digit <= 'f') {
        return static_cast<uint8_t>(digit - 'a' + kDecimalDigits);
    }
    if (digit >= 'A' && digit <= 'F') {
        return static_cast<uint8_t>(digit - 'A' + kDecimalDigits);
    }
    return std::nullopt;
}

bool IsSeparator(char character) {
    return character == ' ' || character == ':' || character == '-';
}

}  // namespace

std::string HexBytes(std::span<const uint8_t> bytes) {
    std::string text;
    for (const uint8_t byte : bytes) {
        if (!text.empty()) {
            text.push_back(' ');
        }
        text.push_back(kDigits[byte >> kNibbleBits]);
        text.push_back(kDigits[byte & kNibbleMask]);
    }
    return text;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text) {
    std::vector<uint8_t> bytes;
    // A flag and a byte rather than an optional: g++ 12 at -O2 takes the optional's value for
    // uninitialised and fails the build under -Werror.
    bool haveHigh = false;
    uint8_t high = 0;
    for (const char character : text) {
        if (IsSeparator(character) && !haveHigh) {
            continue;
        }
        const std::optional<uint8_t> nibble = NibbleOf(character);
        if (!nibble) {
            return std::nullopt;
        }
        if (haveHigh) {
            bytes.push_back(static_cast<uint8_t>((high << kNibbleBits) | *nibble));
            haveHigh = false;
        } else {
            high = *nibble;
            haveHigh = true;
        }
    }
    if (haveHigh) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace zendrik::sim
