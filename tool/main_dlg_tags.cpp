// Tag reading and the tag list: one reader tag read per click, turned into a card number that
// either adds a row or counts a repeat.
#include <QAbstractButton>
#include <QComboBox>
#include <QTableWidget>
#include <algorithm>
#include <array>
#include <optional>

#include "zendrik/zendrik.h"
#include "tool/card_number.h"
#include "tool/control_ids.h"
#include "tool/list_selection.h"
#include "tool/main_dlg.h"
#include "tool/tag_list.h"

namespace zendrik::tool {
namespace {

namespace id = control_id;

struct TagRead {
    std::array<uint8_t, kTagDataSize> data{};
    uint8_t length = 0;
};

// One tag from the reader; nothing when no tag answered or the link failed.
std::optional<TagRead> ReadOneTag() {
    TagRead read;
    read.length = static_cast<uint8_t>(kTagDataSize);
    if (UhfReadTag(CMainDlg::kReaderAddress, read.data.data(), &read.length) != ZENDRIK_OK) {
        return std::nullopt;
    }
    return read;
}

}  // namespace

void CMainDlg::OnReadTag() {
    const int startByte = SelectedIndex(*startBytesList_);
    const int lengthIndex = SelectedIndex(*lengthList_);
    // The bytes must lie within the reader's EPC window. Over USB the Length list has no selection
    // and the test comes down to the start byte.
    if (startByte + lengthIndex + 1 > static_cast<int>(kEpcWindowSize)) {
        ShowMessage(messages_.lengthBytesParameterError);
        return;
    }
    if (UsbChosen()) {
        ReadWiegandNumber(true);
        return;
    }
    // An EPC field of no bytes would list an empty card number.
    if (lengthIndex == kNoSelection) {
        ShowMessage(messages_.lengthBytesParameterError);
        return;
    }
    ReadEpcField();
}

void CMainDlg::OnUsbTagRead() {
    ReadWiegandNumber(true);
}

void CMainDlg::OnTagListDoubleClicked() {
    if (AskOkCancel(messages_.deleteRecord, messages_.warning)) {
        tagList_->setRowCount(0);
    }
}

// The card number a Wiegand panel would receive, in decimal. The service test read takes the EPC
// window of kinds 0 and 1 whatever the reader kind.
void CMainDlg::ReadWiegandNumber(bool windowByReaderKind) {
    const std::optional<TagRead> read = ReadOneTag();
    if (!read) {
        return;
    }
    const uint8_t windowKind = windowByReaderKind ? readerKind_ : kReaderKind0;
    const EpcWindow window = EpcWindowFor(windowKind, read->data, read->length);
    const WiegandSelection selection{SelectedIndex(*startBytesList_),
                                     ControlAs<QAbstractButton>(id::kWiegand34Radio)->isChecked(),
                                     ControlAs<QAbstractButton>(id::kForwardRadio)->isChecked()};
    const std::optional<QString> cardNumber =
        WiegandNumberText(windowKind, read->data, read->length, selection);
    if (!cardNumber) {
        return;
    }
    RecordTag(*tagList_, *cardNumber, window.length, [&](int row) {
        return PrefixMatches(CellText(*tagList_, row, kCardNumberColumn), *cardNumber);
    });
}

// The selected run of EPC bytes, in hexadecimal.
void CMainDlg::ReadEpcField() {
    const std::optional<TagRead> read = ReadOneTag();
    if (!read) {
        return;
    }
    const EpcWindow window = EpcWindowFor(readerKind_, read->data, read->length);
    if (window.length == 0) {
        return;
    }
    const auto count = static_cast<uint8_t>(SelectedIndex(*lengthList_) + 1);
    const uint8_t reverse = ControlAs<QAbstractButton>(id::kForwardRadio)->isChecked() ? 0 : 1;
    std::array<uint8_t, kEpcWindowSize> field{};
    // The field is cut from the window, so the EPC beyond the window is not offered to EpcOutput.
    const auto available = static_cast<uint8_t>(std::min<std::size_t>(window.length, kEpcWindowSize));
    if (EpcOutput(window.bytes.data(), available, reverse,
                  static_cast<uint8_t>(SelectedIndex(*startBytesList_)), count, field.data()) != ZENDRIK_OK) {
        ShowMessage(messages_.freqError);
        return;
    }
    const std::span<const uint8_t> bytes(field.data(), count);
    RecordTag(*tagList_, HexPairsText(bytes), window.length,
              [&](int row) { return HexTextEquals(CellText(*tagList_, row, kCardNumberColumn), bytes); });
}

void CMainDlg::OnDecimalTestRead() {
    ReadWiegandNumber(false);
}

// The whole EPC in hexadecimal, taken from the window of kinds 0 and 1.
void CMainDlg::OnHexTestRead() {
    const std::optional<TagRead> read = ReadOneTag();
    if (!read) {
        return;
    }
    const EpcWindow window = AntennaFirstEpcWindow(read->data, read->length);
    if (window.length == 0 || window.length > kMaxCardEpcLength) {
        return;
    }
    std::array<uint8_t, kMaxCardEpcLength> epc{};
    for (std::size_t index = 0; index < window.length; ++index) {
        epc[index] = window.At(index);
    }
    const std::span<const uint8_t> bytes(epc.data(), window.length);
    const QString epcLengthText = QString::number(window.length);
    RecordTag(*tagList_, HexPairsText(bytes), window.length, [&](int row) {
        return CellText(*tagList_, row, kEpcLengthColumn).trimmed() == epcLengthText &&
               HexTextStartsWith(CellText(*tagList_, row, kCardNumberColumn), bytes);
    });
}

}  // namespace zendrik::tool
