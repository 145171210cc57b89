#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <span>

#include "rules/frequency_plan.h"
#include "rules/reader_codes.h"

// How the window shows the reader's settings: the lists and texts the display rules make of what
// the reader reports. The rules themselves live in rules/; these turn their results into Qt's.
namespace zendrik::tool {

using rules::kChannelReaderKind;
using rules::kOutputBytesSize;
using rules::kOutputEnable;
using rules::kOutputInverted;
using rules::kOutputLength;
using rules::kOutputStart;
using rules::kPasswordBytes;
using rules::kReaderKind0;
using rules::kReaderKind1;
using rules::kWiegand26Code;
using rules::kWiegand34Code;
using rules::kWorkModeAlwaysRead;
using rules::kWorkModeTrigger;

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
WiegandDisplay WiegandDisplayFor(std::span<const uint8_t, kOutputBytesSize> wgOutBytes);

// The start-byte list the Wiegand format radios offer: every start from which the format's bytes
// still lie in the EPC window, the first selected.
ListContents WiegandStartBytes(uint8_t formatCode);

// The power list for the reader kind with the reported power selected; nothing for a kind whose
// power range is unknown (the list stays as it is).
std::optional<ListContents> PowerListFor(uint8_t readerKind, uint8_t power);

// The outputs of UhfGetFrequencyRegion.
using FrequencyReport = rules::FrequencyPlan;

// Connect also sets the band radios and shows the fields afterwards; Read Configuration does not.
enum class FrequencyForm { kConnect, kReadConfiguration };

struct FrequencyDisplay {
    std::optional<bool> fccChecked;  // set: check FCC (true) or ETSI (false) and clear the other
    ListContents start;
    ListContents end;
    bool showFields;
};
FrequencyDisplay FrequencyDisplayFor(uint8_t readerKind, const FrequencyReport& report, FrequencyForm form);

// The list entries of a band: each frequency in kHz as decimal text.
QStringList BandListEntries(const rules::FrequencyBand& band);

// What the FCC and ETSI radios put into the frequency lists: the band and the default selection.
struct BandRadioPlan {
    rules::FrequencyBand band;
    int startIndex;
    int endIndex;
};
inline constexpr BandRadioPlan kFccRadioPlan{rules::kFccBand, 0, 30};   // 902000 .. 917000 kHz
inline constexpr BandRadioPlan kEtsiRadioPlan{rules::kEtsiBand, 0, 3};  // 865000 .. 866500 kHz

struct ChannelLists {
    ListContents start;
    ListContents end;
};
// Channel lists of a region. startIndex and endIndex both kNoSelection ask for the whole range.
ChannelLists ChannelListsFor(int region, int startIndex, int endIndex);

// A byte as two lower-case hexadecimal digits: 0x0A -> "0a".
QString HexPair(uint8_t value);
// The four password bytes as eight hexadecimal digits.
QString PasswordText(std::span<const uint8_t, kPasswordBytes> password);
// "SN:" and the first twelve serial number bytes as hexadecimal digits.
QString SerialNumberText(std::span<const uint8_t> serialNumber);

}  // namespace zendrik::tool
