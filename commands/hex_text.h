#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zendrik {

// Writes each byte as two upper-case hex digits, high nibble first, then a zero byte: `text`
// must hold 2 * bytes.size() + 1 characters. False, with nothing written, when it does not.
bool BytesToHexText(std::span<const uint8_t> bytes, std::span<char> text);

// Decodes `length` hex digits (either case) from `text` into bytes[0 .. length / 2 - 1] and stores
// a zero byte at bytes[length / 2]; `bytes` must hold length / 2 + 1 bytes. False at the first
// character that is not a hex digit, keeping the bytes decoded so far and writing no zero byte;
// callers use that to compare the leading bytes of a text of unknown length.
// An odd length takes the character after the counted ones as the partner of the last digit, and
// that pair is then overwritten by the zero byte. The second character of a pair is looked at only
// when the first is a hex digit, so a terminating zero always ends the decoding.
// False, with nothing written, when `bytes` is too small.
bool HexTextToBytes(const char* text, std::size_t length, std::span<uint8_t> bytes);

}  // namespace zendrik
