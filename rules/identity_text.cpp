#include "rules/identity_text.h"

#include <algorithm>
#include <cstdio>

#include "rules/card_number.h"

namespace zendrik::rules {
namespace {

constexpr uint8_t kFirstPrintable = ' ';
constexpr uint8_t kLastPrintable = '~';

}  // namespace

std::string SerialNumberHex(std::span<const uint8_t> serialNumber) {
    return HexText(serialNumber.first(std::min(serialNumber.size(), kSerialNumberShownBytes)));
}

std::string SerialNumberText(std::span<const uint8_t> serialNumber) {
    return std::string(kSerialNumberPrefix) + SerialNumberHex(serialNumber);
}

std::string VersionText(std::span<const uint8_t> version) {
    std::string text;
    for (const uint8_t byte : version) {
        if (byte == 0) {
            break;
        }
        if (byte >= kFirstPrintable && byte <= kLastPrintable) {
            text.push_back(static_cast<char>(byte));
        } else {
            char escaped[sizeof "\\xff"];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text;
}

}  // namespace zendrik::rules
