#include "cli/card_rule.h"

#include <cstdio>

#include "rules/value_ranges.h"

namespace zendrik::cli {

std::optional<std::string> CardRule::CardOf(std::span<const uint8_t> epc) const {
    if (epcField) {
        return rules::EpcFieldCardNumber(epc, static_cast<std::size_t>(wiegand.startByte), fieldBytes,
                                         wiegand.reversed);
    }
    return rules::WiegandCardNumber(epc, wiegand);
}

int CardRule::WiegandBits() const {
    return wiegand.formatCode == rules::kWiegand34Code ? kWiegand34Bits : kWiegand26Bits;
}

std::optional<std::pair<int, int>> ParseEpcField(const std::string& text) {
    int start = -1;
    int length = -1;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d:%d%c", &start, &length, &tail) != 2) {
        return std::nullopt;
    }
    if (length < 1 || !rules::OutputFitsWindow(start, length)) {
        return std::nullopt;
    }
    return std::make_pair(start, length);
}

std::string CheckEpcField(const std::string& text) {
    return ParseEpcField(text) ? std::string{}
                               : "expected START:LEN with START + LEN at most 12, got " + text;
}

std::optional<CardRule> CardRuleFor(int wiegandBits, const std::string& epcField,
                                    const rules::ReaderSettings& settings) {
    CardRule rule;
    rule.wiegand.reversed = settings.output[rules::kOutputInverted] != 0;
    if (const auto field = ParseEpcField(epcField)) {
        rule.epcField = true;
        rule.wiegand.startByte = field->first;
        rule.fieldBytes = static_cast<uint8_t>(field->second);
        return rule;
    }
    if (wiegandBits == 0) {
        return std::nullopt;
    }
    rule.wiegand.startByte = settings.output[rules::kOutputStart];
    rule.wiegand.formatCode = wiegandBits == kWiegand34Bits ? rules::kWiegand34Code : rules::kWiegand26Code;
    return rule;
}

std::string CheckCardRule(const CardRule& rule) {
    const uint8_t bytes = rules::WiegandBytes(rule.wiegand.formatCode);
    if (rule.epcField || rules::OutputFitsWindow(rule.wiegand.startByte, bytes)) {
        return {};
    }
    return "the reader's output-start " + std::to_string(rule.wiegand.startByte) +
           " leaves no room for the " + std::to_string(bytes) + " bytes of Wiegand " +
           std::to_string(rule.WiegandBits()) +
           " in the 12 EPC bytes; give --epc START:LEN or change output-start";
}

}  // namespace zendrik::cli
