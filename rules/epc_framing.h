#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// Where the EPC, the tag's PC word, the antenna and the signal strength lie in the data bytes of
// a tag read. Kind-2 readers send the PC word and then the EPC; the other kinds send the antenna
// byte, the PC word, the EPC and one byte of signal strength. The data length L that the reader
// reports counts all of them.
namespace zendrik::rules {

// UhfReadTag hands over this many data bytes whatever L is: past L they are the rest of the reply
// frame, and of a longer read only the first 16 arrive.
inline constexpr std::size_t kTagDataBytes = 16;

// The data bytes of one tag read as far as they were delivered (16 through UhfReadTag, all L of
// them on a link of one's own), and the data length L the reader reported.
struct TagData {
    std::span<const uint8_t> bytes;
    std::size_t length = 0;
};

// The framing of a reader kind: the bytes before the EPC and after it.
struct EpcFraming {
    std::size_t before;
    std::size_t after;
    bool antenna;  // the first byte is the antenna the tag answered on
    bool rssi;     // the byte after the EPC is its signal strength
};
EpcFraming EpcFramingOf(uint8_t kind);

// A tag read taken apart. Only bytes that were delivered and lie within L are used: `epc` may be
// shorter than `epcLength` when the read was cut, and a field the read did not deliver is empty.
struct FramedTag {
    std::span<const uint8_t> epc;  // within the TagData's bytes
    std::size_t epcLength = 0;     // as the reader reported it
    std::optional<uint16_t> pcWord;
    std::optional<uint8_t> antenna;
    std::optional<uint8_t> rssi;
};

// Nothing when L leaves no room for an EPC byte (an empty or malformed read).
std::optional<FramedTag> FrameTag(const TagData& tag, uint8_t kind);

// The configuration tool's EPC window: the twelve bytes after the framing, copied whatever L is,
// and the EPC length as a byte (L less the framing, modulo 256).
inline constexpr std::size_t kEpcWindowBytes = 12;
struct EpcWindow {
    std::array<uint8_t, kEpcWindowBytes> bytes{};
    uint8_t length = 0;

    // The byte at an EPC position; positions past the window read as 0.
    uint8_t At(std::size_t position) const { return position < bytes.size() ? bytes[position] : 0; }
};
EpcWindow EpcWindowOf(const TagData& tag, uint8_t kind);

}  // namespace zendrik::rules
