#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rules/epc_framing.h"

// Card numbers: what a Wiegand panel receives for a tag, or a field of its EPC bytes in hex.
namespace zendrik::rules {

// Which EPC bytes a Wiegand number may be taken from.
enum class EpcSource {
    // The configuration tool's twelve-byte EPC window, whatever L is: positions past the window
    // read as 0, and a tag whose reported EPC is empty or longer than kMaxWindowEpcLength gives
    // no number (such a length is taken for a misread).
    kEpcWindow,
    // Only the EPC bytes the read actually delivered, within L.
    kDeliveredBytes,
};

// Longest EPC the window source forms a number from.
inline constexpr std::size_t kMaxWindowEpcLength = 20;

// Where the Wiegand number lies: the reader's output settings and format.
struct WiegandChoice {
    int startByte = 0;       // first EPC byte; negative when none is chosen
    uint8_t formatCode = 0;  // kWiegand26Code or kWiegand34Code
    bool reversed = false;   // the bytes taken last to first
};

// The Wiegand number of a tag read in decimal, padded to 8 digits (Wiegand 26) or 10 (Wiegand 34),
// the first byte taken the most significant. Nothing when no start byte is chosen, the format is
// unknown, or the bytes lie past the EPC as `source` sees it.
std::optional<std::string> WiegandCardNumber(const TagData& tag, uint8_t kind, const WiegandChoice& choice,
                                             EpcSource source);

// The same from the EPC bytes alone (as a session's events carry them): what the delivered-bytes
// source gives for the read they came from.
std::optional<std::string> WiegandCardNumber(std::span<const uint8_t> epc, const WiegandChoice& choice);

// `count` bytes of `source` from `offset`, in order or reversed; nothing when they run past its end.
std::optional<std::vector<uint8_t>> EpcField(std::span<const uint8_t> source, std::size_t offset,
                                             std::size_t count, bool reversed);

// An EPC field as lower-case hex pairs; nothing for an empty field or one past the EPC.
std::optional<std::string> EpcFieldCardNumber(std::span<const uint8_t> epc, std::size_t offset,
                                              std::size_t count, bool reversed);

// Bytes as lower-case hex pairs without separators: 0A FF -> "0aff".
std::string HexText(std::span<const uint8_t> bytes);

}  // namespace zendrik::rules
