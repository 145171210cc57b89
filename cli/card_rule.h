#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "rules/card_number.h"
#include "rules/reader_settings.h"

namespace zendrik::cli {

inline constexpr int kWiegand26Bits = 26;
inline constexpr int kWiegand34Bits = 34;

// How `read` turns a tag into a card number when the command line replaces the reader's own
// choice: another Wiegand format from the reader's start byte, or a field of EPC bytes in hex.
// Either way the byte order is the reader's.
struct CardRule {
    bool epcField = false;
    rules::WiegandChoice wiegand;  // start byte, format and order
    uint8_t fieldBytes = 0;        // the field's length, for an EPC field

    // Nothing when the EPC is too short for the bytes the rule takes.
    std::optional<std::string> CardOf(std::span<const uint8_t> epc) const;
    int WiegandBits() const;
};

// "START:LEN" inside the twelve-byte EPC window.
std::optional<std::pair<int, int>> ParseEpcField(const std::string& text);
std::string CheckEpcField(const std::string& text);

// The rule `--wiegand BITS` (0: not given) or `--epc START:LEN` (empty: not given) ask for, on the
// reader's output settings; nothing when they ask for neither, so that the reader's own choice
// holds.
std::optional<CardRule> CardRuleFor(int wiegandBits, const std::string& epcField,
                                    const rules::ReaderSettings& settings);

// Empty when the rule's bytes lie in the EPC window; otherwise what is wrong, for the user.
std::string CheckCardRule(const CardRule& rule);

}  // namespace zendrik::cli
