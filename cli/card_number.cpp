#include "cli/card_number.h"

#include <zendrik.h>

#include <algorithm>
#include <cstdio>

namespace zendrik::cli {
namespace {

struct EpcFraming {
    std::size_t before;
    std::size_t after;
};
constexpr uint8_t kPcOnlyReaderKind = 2;
// Kind 2: the tag's PC word, then the EPC. Other kinds: antenna and PC word, the EPC, then one
// byte of signal strength.
constexpr EpcFraming kPcOnlyFraming{2, 0};
constexpr EpcFraming kAntennaFraming{3, 1};

constexpr int kWiegand26Bits = 26;
constexpr int kWiegand34Bits = 34;
constexpr uint8_t kWiegand26Bytes = 3;
constexpr uint8_t kWiegand34Bytes = 4;
constexpr int kWiegand26Digits = 8;
constexpr int kWiegand34Digits = 10;
constexpr unsigned kBitsPerByte = 8;

// The EPC bytes [start, start + count) in order, or reversed; nothing past the EPC.
std::optional<std::array<uint8_t, kEpcWindowBytes>> Field(const EpcWindow& window, uint8_t start,
                                                          uint8_t count, bool reversed) {
    std::array<uint8_t, kEpcWindowBytes> field{};
    if (count > field.size()) {
        return std::nullopt;
    }
    if (EpcOutput(window.bytes.data(), static_cast<uint8_t>(window.present), reversed ? 1 : 0, start, count,
                  field.data()) != ZENDRIK_OK) {
        return std::nullopt;
    }
    return field;
}

}  // namespace

std::optional<EpcWindow> EpcWindowOf(const TagData& tag, uint8_t kind) {
    const EpcFraming framing = kind == kPcOnlyReaderKind ? kPcOnlyFraming : kAntennaFraming;
    const std::size_t framingBytes = framing.before + framing.after;
    if (tag.length <= framingBytes) {
        return std::nullopt;
    }
    EpcWindow window;
    window.epcLength = tag.length - framingBytes;
    // The 16 delivered bytes end before a long EPC does; only what they hold is the tag's.
    const std::size_t delivered = kTagDataBytes - framing.before;
    window.present = std::min({window.epcLength, delivered, kEpcWindowBytes});
    std::copy_n(tag.bytes.begin() + static_cast<std::ptrdiff_t>(framing.before), window.present,
                window.bytes.begin());
    return window;
}

uint8_t WiegandBytes(int wiegandBits) {
    switch (wiegandBits) {
        case kWiegand26Bits:
            return kWiegand26Bytes;
        case kWiegand34Bits:
            return kWiegand34Bytes;
        default:
            return 0;
    }
}

std::optional<std::string> WiegandCardNumber(const EpcWindow& window, int wiegandBits, uint8_t start,
                                             bool reversed) {
    const uint8_t width = WiegandBytes(wiegandBits);
    if (width == 0) {
        return std::nullopt;
    }
    const auto field = Field(window, start, width, reversed);
    if (!field) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (uint8_t i = 0; i < width; ++i) {
        value = (value << kBitsPerByte) | (*field)[i];
    }
    const int digits = width == kWiegand34Bytes ? kWiegand34Digits : kWiegand26Digits;
    char text[kWiegand34Digits + 1];
    std::snprintf(text, sizeof text, "%0*u", digits, static_cast<unsigned>(value));
    return std::string(text);
}

std::optional<std::string> EpcFieldCardNumber(const EpcWindow& window, uint8_t start, uint8_t count,
                                              bool reversed) {
    if (count == 0) {
        return std::nullopt;
    }
    const auto field = Field(window, start, count, reversed);
    if (!field) {
        return std::nullopt;
    }
    return HexText(std::span(*field).first(count));
}

std::string HexText(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

}  // namespace zendrik::cli
