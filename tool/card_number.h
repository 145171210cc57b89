#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "rules/card_number.h"

// Card numbers as the tag list shows and matches them. The numbers themselves come from rules/,
// taken from the reader's EPC window as the tool has always taken them.
namespace zendrik::tool {

// UhfReadTag fills this many tag data bytes and reports how many the reader sent.
inline constexpr std::size_t kTagDataSize = rules::kTagDataBytes;
// The run of tag data bytes a card number is cut from.
inline constexpr std::size_t kEpcWindowSize = rules::kEpcWindowBytes;
// Longest EPC a card number is formed from; longer reports are taken for misreads.
inline constexpr std::size_t kMaxCardEpcLength = rules::kMaxWindowEpcLength;

using rules::EpcWindow;

// Where the EPC lies in the tag data, by the reader kind.
EpcWindow EpcWindowFor(uint8_t readerKind, std::span<const uint8_t, kTagDataSize> data, uint8_t dataLength);
// The window kinds 0 and 1 use, which the service test reads take whatever the reader kind.
EpcWindow AntennaFirstEpcWindow(std::span<const uint8_t, kTagDataSize> data, uint8_t dataLength);

// What the window says about the Wiegand number a panel would receive.
struct WiegandSelection {
    int startByte;   // first window byte; -1 when the list has no selection
    bool wiegand34;  // 4 bytes, 32 bits shown; otherwise 3 bytes, 24 bits shown
    bool forward;    // bytes in window order; otherwise reversed
};

// The Wiegand number as the panel would see it, in decimal with a fixed width (8 digits for
// Wiegand 26, 10 for Wiegand 34), taken from the EPC window of a reader of `readerKind`. Nothing
// when no start byte is selected, the EPC is empty or longer than kMaxCardEpcLength, or the bytes
// lie past the EPC.
std::optional<QString> WiegandNumberText(uint8_t readerKind, std::span<const uint8_t, kTagDataSize> data,
                                         uint8_t dataLength, const WiegandSelection& selection);

// Bytes as lower-case hexadecimal pairs: 0A FF -> "0aff".
QString HexPairsText(std::span<const uint8_t> bytes);

// The No. column: the row number modulo 256 in lower-case hexadecimal, so the 256th row shows 0.
QString RowNumberText(int rowNumber);

// The Success Times column read back as a count; an empty or unreadable cell counts 0.
uint32_t SuccessTimesOf(const QString& cell);

// Wiegand-number rows match when the row's text starts with the new number, so that a 26-bit read
// finds a row made by a 34-bit read of the same tag.
bool PrefixMatches(const QString& rowText, const QString& cardText);

// EPC-field rows match when the row's text, read as hexadecimal pairs, holds exactly `bytes`.
// Decimal Wiegand rows are read as hexadecimal too, as the reader's own list has always done.
bool HexTextEquals(const QString& rowText, std::span<const uint8_t> bytes);

// True when the row's text, read as hexadecimal pairs, starts with `bytes`.
bool HexTextStartsWith(const QString& rowText, std::span<const uint8_t> bytes);

}  // namespace zendrik::tool
