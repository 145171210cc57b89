#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <span>

namespace zendrik::tool {

// The Wiegand output settings record: enable, first EPC byte sent, byte count, inverted flag.
inline constexpr std::size_t kWgOutBytesSize = 4;
inline constexpr std::size_t kWgEnableByte = 0;
inline constexpr std::size_t kWgStartByte = 1;
inline constexpr std::size_t kWgByteCount = 2;
inline constexpr std::size_t kWgInvertedByte = 3;

inline constexpr std::size_t kPasswordSize = 4;
inline constexpr std::size_t kSerialNumberShownBytes = 12;

// The reader kinds that Handshake reports.
inline constexpr uint8_t kReaderKind0 = 0;
inline constexpr uint8_t kReaderKind1 = 1;
inline constexpr uint8_t kChannelReaderKind = 2;

// Work modes and Wiegand format codes as the reader reports and takes them.
inline constexpr uint8_t kWorkModeAlwaysRead = 0;
inline constexpr uint8_t kWorkModeTrigger = 1;
inline constexpr uint8_t kWiegand26Code = 38;
inline constexpr uint8_t kWiegand34Code = 52;

inline constexpr int kNoSelection = -1;

// What a combo box should hold: its entries and the selected index (kNoSelection for none; an
// index outside the entries is stored as kNoSelection).
struct ListContents {
    QStringList entries;
    int selectedIndex = kNoSelection;
};
ListContents MakeListContents(QStringList entries, int selectedIndex);

// The numbers from `lowest` to `highest` as decimal list entries.
QStringList NumberEntries(int lowest, int highest);

struct WiegandDisplay {
    bool inverted;
    ListContents startBytes;
};
// Forward/inverted radios and the start-byte list "0" to "11" from the output settings record.
WiegandDisplay WiegandDisplayFor(std::span<const uint8_t, kWgOutBytesSize> wgOutBytes);

// The power list for the reader kind with the reported power selected; nothing for a kind whose
// power range is unknown (the list stays as it is).
std::optional<ListContents> PowerListFor(uint8_t readerKind, uint8_t power);

// The outputs of UhfGetFrequencyRegion.
struct FrequencyReport {
    uint8_t region = 0;
    int32_t first = 0;
    int32_t second = 0;
    int32_t step = 0;
    uint8_t span = 0;
};

// Connect also sets the band radios and shows the fields afterwards; Read Configuration does not.
enum class FrequencyForm { kConnect, kReadConfiguration };

struct FrequencyDisplay {
    std::optional<bool> fccChecked;  // set: check FCC (true) or ETSI (false) and clear the other
    ListContents start;
    ListContents end;
    bool showFields;
};
FrequencyDisplay FrequencyDisplayFor(uint8_t readerKind, const FrequencyReport& report, FrequencyForm form);

struct ChannelLists {
    ListContents start;
    ListContents end;
};
// Channel lists of a region. startIndex and endIndex both kNoSelection ask for the whole range.
ChannelLists ChannelListsFor(int region, int startIndex, int endIndex);

// A byte as two lower-case hexadecimal digits: 0x0A -> "0a".
QString HexPair(uint8_t value);
// The four password bytes as eight hexadecimal digits.
QString PasswordText(std::span<const uint8_t, kPasswordSize> password);
// "SN:" and the first twelve serial number bytes as hexadecimal digits.
QString SerialNumberText(std::span<const uint8_t> serialNumber);

}  // namespace zendrik::tool
