#include "tool/card_number.h"

#include <QByteArray>
#include <algorithm>
#include <vector>

#include "zendrik/zendrik.h"
#include "rules/reader_codes.h"

namespace zendrik::tool {
namespace {

constexpr int kDecimal = 10;
constexpr int kHexadecimal = 16;
constexpr int kHexPairWidth = 2;
constexpr int kRowNumberModulus = 256;  // the No. column shows one byte

rules::TagData TagDataOf(std::span<const uint8_t, kTagDataSize> data, uint8_t dataLength) {
    return {data, dataLength};
}

// The row's text read as hexadecimal pairs (an odd last digit is left out); nothing when it holds
// a character that is not a hexadecimal digit.
std::optional<std::vector<uint8_t>> HexTextBytes(const QString& rowText) {
    const QByteArray text = rowText.toLatin1();
    const auto pairs = static_cast<std::size_t>(text.size()) / kHexPairWidth;
    // a_hex stores a terminating zero after the decoded bytes.
    std::vector<uint8_t> bytes(pairs + 1);
    if (a_hex(text.constData(), bytes.data(), static_cast<uint32_t>(pairs * kHexPairWidth)) != 0) {
        return std::nullopt;
    }
    bytes.resize(pairs);
    return bytes;
}

}  // namespace

EpcWindow EpcWindowFor(uint8_t readerKind, std::span<const uint8_t, kTagDataSize> data, uint8_t dataLength) {
    return rules::EpcWindowOf(TagDataOf(data, dataLength), readerKind);
}

EpcWindow AntennaFirstEpcWindow(std::span<const uint8_t, kTagDataSize> data, uint8_t dataLength) {
    return EpcWindowFor(rules::kReaderKind0, data, dataLength);
}

std::optional<QString> WiegandNumberText(uint8_t readerKind, std::span<const uint8_t, kTagDataSize> data,
                                         uint8_t dataLength, const WiegandSelection& selection) {
    const rules::WiegandChoice choice{selection.startByte,
                                      selection.wiegand34 ? rules::kWiegand34Code : rules::kWiegand26Code,
                                      !selection.forward};
    const std::optional<std::string> number = rules::WiegandCardNumber(
        TagDataOf(data, dataLength), readerKind, choice, rules::EpcSource::kEpcWindow);
    if (!number) {
        return std::nullopt;
    }
    return QString::fromStdString(*number);
}

QString HexPairsText(std::span<const uint8_t> bytes) {
    return QString::fromStdString(rules::HexText(bytes));
}

QString RowNumberText(int rowNumber) {
    return QString::number(rowNumber % kRowNumberModulus, kHexadecimal);
}

uint32_t SuccessTimesOf(const QString& cell) {
    bool ok = false;
    const uint32_t count = cell.trimmed().toUInt(&ok, kDecimal);
    return ok ? count : 0;
}

bool PrefixMatches(const QString& rowText, const QString& cardText) {
    return rowText.startsWith(cardText);
}

bool HexTextEquals(const QString& rowText, std::span<const uint8_t> bytes) {
    const std::optional<std::vector<uint8_t>> rowBytes = HexTextBytes(rowText);
    return rowBytes && std::ranges::equal(*rowBytes, bytes);
}

bool HexTextStartsWith(const QString& rowText, std::span<const uint8_t> bytes) {
    const std::optional<std::vector<uint8_t>> rowBytes = HexTextBytes(rowText);
    return rowBytes && rowBytes->size() >= bytes.size() &&
           std::equal(bytes.begin(), bytes.end(), rowBytes->begin());
}

}  // namespace zendrik::tool
