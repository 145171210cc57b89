#include "rules/card_number.h"

#include <algorithm>
#include <cstdio>

#include "rules/reader_codes.h"
#include "rules/wire_bytes.h"

namespace zendrik::rules {
namespace {

constexpr int kWiegand26Digits = 8;   // 24 bits in decimal
constexpr int kWiegand34Digits = 10;  // 32 bits in decimal
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kLowNibble = 0x0F;

// The Wiegand bytes, first to last, as the window source sees them.
std::optional<std::vector<uint8_t>> WindowBytes(const TagData& tag, uint8_t kind, std::size_t start,
                                                std::size_t width, bool reversed) {
    const EpcWindow window = EpcWindowOf(tag, kind);
    if (window.length == 0 || window.length > kMaxWindowEpcLength || start + width > window.length) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(width);
    for (std::size_t i = 0; i < width; ++i) {
        bytes[i] = window.At(start + (reversed ? width - 1 - i : i));
    }
    return bytes;
}

// The bytes first to last as one number, the first the most significant, in the format's digits.
std::string WiegandDecimal(std::span<const uint8_t> bytes) {
    uint32_t value = 0;
    for (const uint8_t byte : bytes) {
        value = (value << kBitsPerByte) | byte;
    }
    const int digits = bytes.size() == kWiegand34Bytes ? kWiegand34Digits : kWiegand26Digits;
    char text[kWiegand34Digits + 1];
    std::snprintf(text, sizeof text, "%0*u", digits, static_cast<unsigned>(value));
    return text;
}

}  // namespace

std::optional<std::string> WiegandCardNumber(const TagData& tag, uint8_t kind, const WiegandChoice& choice,
                                             EpcSource source) {
    const uint8_t width = WiegandBytes(choice.formatCode);
    if (width == 0 || choice.startByte < 0) {
        return std::nullopt;
    }
    if (source == EpcSource::kDeliveredBytes) {
        const std::optional<FramedTag> framed = FrameTag(tag, kind);
        return framed ? WiegandCardNumber(framed->epc, choice) : std::nullopt;
    }
    const std::optional<std::vector<uint8_t>> bytes =
        WindowBytes(tag, kind, static_cast<std::size_t>(choice.startByte), width, choice.reversed);
    return bytes ? std::optional(WiegandDecimal(*bytes)) : std::nullopt;
}

std::optional<std::string> WiegandCardNumber(std::span<const uint8_t> epc, const WiegandChoice& choice) {
    const uint8_t width = WiegandBytes(choice.formatCode);
    if (width == 0 || choice.startByte < 0) {
        return std::nullopt;
    }
    const std::optional<std::vector<uint8_t>> bytes =
        EpcField(epc, static_cast<std::size_t>(choice.startByte), width, choice.reversed);
    return bytes ? std::optional(WiegandDecimal(*bytes)) : std::nullopt;
}

std::optional<std::vector<uint8_t>> EpcField(std::span<const uint8_t> source, std::size_t offset,
                                             std::size_t count, bool reversed) {
    if (offset > source.size() || count > source.size() - offset) {
        return std::nullopt;
    }
    const auto field = source.subspan(offset, count);
    std::vector<uint8_t> bytes(field.begin(), field.end());
    if (reversed) {
        std::reverse(bytes.begin(), bytes.end());
    }
    return bytes;
}

std::optional<std::string> EpcFieldCardNumber(std::span<const uint8_t> epc, std::size_t offset,
                                              std::size_t count, bool reversed) {
    if (count == 0) {
        return std::nullopt;
    }
    const std::optional<std::vector<uint8_t>> field = EpcField(epc, offset, count, reversed);
    if (!field) {
        return std::nullopt;
    }
    return HexText(*field);
}

std::string HexText(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> kNibbleBits]);
        text.push_back(kDigits[byte & kLowNibble]);
    }
    return text;
}

}  // namespace zendrik::rules
