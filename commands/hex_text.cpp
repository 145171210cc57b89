#include "commands/hex_text.h"

#include <optional>

namespace zendrik {
namespace {

constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kLowNibbleMask = 0x0F;
constexpr uint8_t kFirstLetterValue = 10;
constexpr char kDigits[] = "0123456789ABCDEF";
constexpr std::size_t kCharsPerByte = 2;

std::optional<uint8_t> HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint8_t>(c - 'A' + kFirstLetterValue);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint8_t>(c - 'a' + kFirstLetterValue);
    }
    return std::nullopt;
}

}  // namespace

bool BytesToHexText(std::span<const uint8_t> bytes, std::span<char> text) {
    if (text.size() < kCharsPerByte * bytes.size() + 1) {
        return false;
    }
    std::size_t at = 0;
    for (const uint8_t byte : bytes) {
        text[at++] = kDigits[byte >> kNibbleBits];
        text[at++] = kDigits[byte & kLowNibbleMask];
    }
    text[at] = '\0';
    return true;
}

bool HexTextToBytes(const char* text, std::size_t length, std::span<uint8_t> bytes) {
    const std::size_t decoded = length / kCharsPerByte;
    if (decoded >= bytes.size()) {
        return false;
    }
    for (std::size_t i = 0; i < length; i += kCharsPerByte) {
        const std::optional<uint8_t> high = HexDigitValue(text[i]);
        if (!high) {
            return false;
        }
        const std::optional<uint8_t> low = HexDigitValue(text[i + 1]);
        if (!low) {
            return false;
        }
        // With an odd length the last pair lands on bytes[decoded], which the zero byte overwrites.
        bytes[i / kCharsPerByte] = static_cast<uint8_t>((*high << kNibbleBits) | *low);
    }
    bytes[decoded] = 0;
    return true;
}

}  // namespace zendrik
