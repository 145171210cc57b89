#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zendrik::cli {

// What UhfReadTag hands over: 16 bytes of the reply's tag data and the reply's data length.
inline constexpr std::size_t kTagDataBytes = 16;
struct TagData {
    std::array<uint8_t, kTagDataBytes> bytes{};
    uint8_t length = 0;
};

// The EPC bytes of a tag read, as far as the 16 delivered bytes hold them (at most 12), and the
// EPC length the reader reported.
inline constexpr std::size_t kEpcWindowBytes = 12;
struct EpcWindow {
    std::array<uint8_t, kEpcWindowBytes> bytes{};
    std::size_t present = 0;
    std::size_t epcLength = 0;
};

// Cuts the EPC out of a tag read: reader kind 2 puts two bytes before it, the other kinds three
// before and one after. Nothing when the read carries no EPC byte (an empty or malformed reply).
std::optional<EpcWindow> EpcWindowOf(const TagData& tag, uint8_t kind);

// The card number a Wiegand panel receives: 3 (Wiegand 26) or 4 (Wiegand 34) EPC bytes from
// `start`, the first most significant, in decimal padded to 8 or 10 digits. Nothing when the
// bytes lie past the EPC.
std::optional<std::string> WiegandCardNumber(const EpcWindow& window, int wiegandBits, uint8_t start,
                                             bool reversed);

// `count` EPC bytes from `start` as lower-case hex pairs. Nothing when they lie past the EPC.
std::optional<std::string> EpcFieldCardNumber(const EpcWindow& window, uint8_t start, uint8_t count,
                                              bool reversed);

// Bytes as lower-case hex pairs without separators.
std::string HexText(std::span<const uint8_t> bytes);

// The bytes of a Wiegand number: 3 for Wiegand 26, 4 for Wiegand 34; 0 for any other bit count.
uint8_t WiegandBytes(int wiegandBits);

}  // namespace zendrik::cli
