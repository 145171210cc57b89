// Exported hex text conversions between tag numbers and their printable form.
#include <cstddef>
#include <span>

#include "commands/hex_text.h"
#include "zendrik/zendrik.h"

namespace {

constexpr std::size_t kCharsPerByte = 2;

}  // namespace

extern "C" {

// Always succeeds for valid buffers; a missing buffer is refused like a bad digit.
ZENDRIK_API int16_t hex_a(const uint8_t* bytes, char* text, uint32_t n) {
    if (text == nullptr || (n > 0 && bytes == nullptr)) {
        return ZENDRIK_HEX_BAD_DIGIT;
    }
    const std::span<const uint8_t> input = n > 0 ? std::span(bytes, n) : std::span<const uint8_t>();
    const bool written = zendrik::BytesToHexText(input, std::span(text, std::size_t{n} * kCharsPerByte + 1));
    return written ? int16_t{ZENDRIK_OK} : int16_t{ZENDRIK_HEX_BAD_DIGIT};
}

ZENDRIK_API int16_t a_hex(const char* text, uint8_t* bytes, uint32_t len) {
    if (bytes == nullptr || (len > 0 && text == nullptr)) {
        return ZENDRIK_HEX_BAD_DIGIT;
    }
    const bool decoded =
        zendrik::HexTextToBytes(text, len, std::span(bytes, std::size_t{len} / kCharsPerByte + 1));
    return decoded ? int16_t{ZENDRIK_OK} : int16_t{ZENDRIK_HEX_BAD_DIGIT};
}

}  // extern "C"
