#include "tool/card_number.h"

#include <QByteArray>
#include <algorithm>
#include <vector>

#include "exports/zendrik.h"
#include "tool/display_rules.h"

namespace zendrik::tool {
namespace {

// Where the EPC starts in the tag data, and how many of the reported bytes are not EPC.
constexpr std::size_t kPcFirstEpcOffset = 2;       // PC word
constexpr uint8_t kPcFirstOverhead = 2;            // PC word
constexpr std::size_t kAntennaFirstEpcOffset = 3;  // antenna, PC word
constexpr uint8_t kAntennaFirstOverhead = 4;       // antenna, PC word, signal strength

constexpr int kWiegand26Bytes = 3;
constexpr int kWiegand34Bytes = 4;
constexpr int kWiegand26Digits = 8;   // 24 bits in decimal
constexpr int kWiegand34Digits = 10;  // 32 bits in decimal
constexpr int kBitsPerByte = 8;
constexpr int kDecimal = 10;
constexpr int kHexadecimal = 16;
constexpr int kHexPairWidth = 2;
constexpr int kRowNumberModulus = 256;  // the No. column shows one byte

EpcWindow WindowAt(std::span<const uint8_t, kTagDataSize> data, std::size_t offset, uint8_t length) {
    EpcWindow window;
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), kEpcWindowSize, window.bytes.begin());
    window.length = length;
    return window;
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

uint8_t EpcWindow::At(std::size_t position) const {
    return position < bytes.size() ? bytes[position] : 0;
}

EpcWindow EpcWindowFor(uint8_t readerKind, std::span<const uint8_t, kTagDataSize> data, uint8_t dataLength) {
    if (readerKind == kChannelReaderKind) {
        return WindowAt(data, kPcFirstEpcOffset, static_cast<uint8_t>(dataLength - kPcFirstOverhead));
    }
    return AntennaFirstEpcWindow(data, dataLength);
}

EpcWindow AntennaFirstEpcWindow(std::span<const uint8_t, kTagDataSize> data, uint8_t dataLength) {
    return WindowAt(data, kAntennaFirstEpcOffset, static_cast<uint8_t>(dataLength - kAntennaFirstOverhead));
}

std::optional<QString> WiegandNumberText(const EpcWindow& window, const WiegandSelection& selection) {
    const int width = selection.wiegand34 ? kWiegand34Bytes : kWiegand26Bytes;
    if (selection.startByte < 0 || window.length == 0 || window.length > kMaxCardEpcLength ||
        selection.startByte + width > window.length) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (int index = 0; index < width; ++index) {
        const int offset = selection.forward ? index : width - 1 - index;
        value = (value << kBitsPerByte) | window.At(static_cast<std::size_t>(selection.startByte + offset));
    }
    const int digits = selection.wiegand34 ? kWiegand34Digits : kWiegand26Digits;
    return QStringLiteral("%1").arg(value, digits, kDecimal, QChar(u'0'));
}

QString HexPairsText(std::span<const uint8_t> bytes) {
    QString text;
    for (const uint8_t byte : bytes) {
        text += HexPair(byte);
    }
    return text;
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
