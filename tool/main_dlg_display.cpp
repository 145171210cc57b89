// The display rules applied to the window: Wiegand output settings, output power and the frequency
// plan, as Connect and Read Configuration show them.
#include <QComboBox>

#include "tool/control_ids.h"
#include "tool/main_dlg.h"

namespace zendrik::tool {
namespace {

namespace id = control_id;

}  // namespace

void CMainDlg::ShowList(QComboBox* list, const ListContents& contents) {
    list->clear();
    list->addItems(contents.entries);
    list->setCurrentIndex(contents.selectedIndex);
}

void CMainDlg::ApplyWiegandDisplay(std::span<const uint8_t, kOutputBytesSize> wgOutBytes) {
    const WiegandDisplay display = WiegandDisplayFor(wgOutBytes);
    SetRadioChecked(id::kInvertedRadio, display.inverted);
    SetRadioChecked(id::kForwardRadio, !display.inverted);
    ShowList(startBytesList_, display.startBytes);
}

void CMainDlg::ApplyPowerList(uint8_t power) {
    if (const std::optional<ListContents> contents = PowerListFor(readerKind_, power)) {
        ShowList(powerList_, *contents);
    }
}

void CMainDlg::ApplyFrequencyDisplay(const FrequencyReport& report, FrequencyForm form) {
    const FrequencyDisplay display = FrequencyDisplayFor(readerKind_, report, form);
    if (display.fccChecked) {
        SetRadioChecked(id::kFccRadio, *display.fccChecked);
        SetRadioChecked(id::kEtsiRadio, !*display.fccChecked);
    }
    ShowList(freqStartList_, display.start);
    ShowList(freqEndList_, display.end);
    if (display.showFields) {
        ShowFields();
    }
}

void CMainDlg::FillChannelLists(int region, int startIndex, int endIndex) {
    const ChannelLists lists = ChannelListsFor(region, startIndex, endIndex);
    ShowList(freqStartList_, lists.start);
    ShowList(freqEndList_, lists.end);
}

}  // namespace zendrik::tool
