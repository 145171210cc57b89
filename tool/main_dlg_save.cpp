// Save Changes and Factory Default: the window's settings checked and written to the reader.
#include <QAbstractButton>
#include <QComboBox>
#include <array>

#include "exports/zendrik.h"
#include "tool/control_ids.h"
#include "tool/frequency_plan.h"
#include "tool/list_selection.h"
#include "tool/main_dlg.h"
#include "tool/override_cursor.h"
#include "tool/save_checks.h"

namespace zendrik::tool {
namespace {

namespace id = control_id;

constexpr uint8_t kWiegand26Bytes = 3;
constexpr uint8_t kWiegand34Bytes = 4;
constexpr uint8_t kWiegandOutputOn = 1;
constexpr uint8_t kPasswordCheckOn = 1;
constexpr uint8_t kPasswordCheckOff = 0;
constexpr int kHexadecimal = 16;
constexpr int kHexPairWidth = 2;

// The region codes the tool writes: a band of frequencies (kinds 0 and 1) or a channel range
// (kind 2). The library picks the layout by the reader kind.
constexpr int32_t kBandRegion = 4;
constexpr int32_t kChannelRegion = 5;
// The narrow-power reader's list starts at 18.
constexpr uint8_t kNarrowPowerOffset = 18;

// What Factory Default writes after the reader has restored its own defaults.
constexpr uint8_t kFactoryAddress = 1;
constexpr uint8_t kFactoryWiegandInterval = 2;  // 200 ms
constexpr uint8_t kFactoryTriggerTime = 3;      // seconds
constexpr int32_t kFactoryFirstChannel = 1;
constexpr int32_t kFactoryLastChannel = 63;
constexpr uint8_t kFactoryPowerKind0 = 33;
constexpr uint8_t kFactoryPowerKind1 = 26;
constexpr uint8_t kFactoryPowerKind2 = 63;

// The password text as four bytes, two hexadecimal digits each; a pair that is not hexadecimal
// gives 0.
std::array<uint8_t, kPasswordSize> PasswordBytes(const QString& text) {
    std::array<uint8_t, kPasswordSize> bytes{};
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        const QString pair = text.mid(static_cast<qsizetype>(index) * kHexPairWidth, kHexPairWidth);
        bytes[index] = static_cast<uint8_t>(pair.toUInt(nullptr, kHexadecimal));
    }
    return bytes;
}

}  // namespace

void CMainDlg::OnSaveChanges() {
    const WaitCursor busy;
    ReadFields();
    ShowFields();
    if (const std::optional<SaveRefusal> refusal = FirstSaveRefusal(CollectSaveInputs())) {
        switch (*refusal) {
            case SaveRefusal::kOutputTime:
                ShowMessage(messages_.outputTimeParameterError);
                break;
            case SaveRefusal::kReadTime:
                ShowMessage(messages_.readTimeParameterError);
                break;
            case SaveRefusal::kFrequency:
                ShowMessage(messages_.freqError);
                break;
            case SaveRefusal::kStartBytes:
                ShowMessage(messages_.startBytesParameterError);
                break;
            case SaveRefusal::kLengthBytes:
                ShowMessage(messages_.lengthBytesParameterError);
                break;
            case SaveRefusal::kPower:
                ShowMessage(messages_.parameterError);
                break;
        }
        return;
    }
    if (!WriteSettings() || !WriteFrequencyAndPower()) {
        return;
    }
    fields_.status = messages_.saved;
    ShowFields();
}

SaveInputs CMainDlg::CollectSaveInputs() const {
    SaveInputs inputs;
    inputs.wiegandInterval = fields_.wiegandInterval;
    inputs.triggerTime = fields_.triggerTime;
    inputs.readerKind = readerKind_;
    inputs.frequencyStart = SelectedIndex(*freqStartList_);
    inputs.frequencyEnd = SelectedIndex(*freqEndList_);
    inputs.usb = UsbChosen();
    inputs.wiegand26 = ControlAs<QAbstractButton>(id::kWiegand26Radio)->isChecked();
    inputs.wiegand34 = ControlAs<QAbstractButton>(id::kWiegand34Radio)->isChecked();
    inputs.startByte = SelectedIndex(*startBytesList_);
    inputs.lengthIndex = SelectedIndex(*lengthList_);
    inputs.powerIndex = SelectedIndex(*powerList_);
    return inputs;
}

// Every setting but the frequency plan and the power, in the order the reader has always been
// given them. Only the output settings and the address stop the save when refused.
bool CMainDlg::WriteSettings() {
    const auto isChecked = [this](int controlId) {
        return ControlAs<QAbstractButton>(controlId)->isChecked();
    };
    UhfSetWgIntervalTime(kReaderAddress, fields_.wiegandInterval);
    UhfSetBuzzer(kReaderAddress, isChecked(id::kBuzzerCheck) ? 1 : 0);
    UhfSetTriggerTime(kReaderAddress, fields_.triggerTime);
    if (isChecked(id::kAlwaysReadRadio)) {
        UhfSetWorkMode(kReaderAddress, kWorkModeAlwaysRead);
    }
    if (isChecked(id::kTriggerRadio)) {
        UhfSetWorkMode(kReaderAddress, kWorkModeTrigger);
    }
    const bool wiegand34 = isChecked(id::kWiegand34Radio);
    std::array<uint8_t, kWgOutBytesSize> wgOutBytes{};
    wgOutBytes[kWgEnableByte] = kWiegandOutputOn;
    wgOutBytes[kWgStartByte] = static_cast<uint8_t>(SelectedIndex(*startBytesList_));
    wgOutBytes[kWgInvertedByte] = isChecked(id::kForwardRadio) ? 0 : 1;
    if (UsbChosen()) {
        UhfSetWeigand(kReaderAddress, wiegand34 ? kWiegand34Code : kWiegand26Code);
        wgOutBytes[kWgByteCount] = wiegand34 ? kWiegand34Bytes : kWiegand26Bytes;
    } else {
        wgOutBytes[kWgByteCount] = static_cast<uint8_t>(SelectedIndex(*lengthList_) + 1);
    }
    if (UhfSetWgOutByte(kReaderAddress, wgOutBytes.data()) != ZENDRIK_OK) {
        ShowMessage(messages_.setWiegandOutputSettingsFail);
        return false;
    }
    UhfSetWgIntervalTime(kReaderAddress, fields_.wiegandInterval);
    const std::array<uint8_t, kPasswordSize> password = PasswordBytes(fields_.password);
    if (isChecked(id::kPasswordYesRadio)) {
        UhfSetPassword(kReaderAddress, kPasswordCheckOn, password.data());
    }
    if (isChecked(id::kPasswordNoRadio)) {
        UhfSetPassword(kReaderAddress, kPasswordCheckOff, password.data());
    }
    if (UhfSetAddress(kReaderAddress, fields_.readerAddress) != ZENDRIK_OK) {
        ShowMessage(messages_.setAddressFail);
        return false;
    }
    // The reader keeps the interval in one byte.
    UhfSetReadTagIntervalTime(kReaderAddress, static_cast<uint8_t>(fields_.readTagInterval));
    return true;
}

bool CMainDlg::WriteFrequencyAndPower() {
    const int startIndex = SelectedIndex(*freqStartList_);
    const int endIndex = SelectedIndex(*freqEndList_);
    const int powerIndex = SelectedIndex(*powerList_);
    std::optional<uint8_t> power;
    if (readerKind_ == kChannelReaderKind) {
        if (UhfSetFrequencyRegion(kReaderAddress, kChannelRegion, startIndex + 1, endIndex + 1, 0, 0) !=
            ZENDRIK_OK) {
            ShowMessage(messages_.setFrequencyRegionFail);
            return false;
        }
        power = static_cast<uint8_t>(powerIndex);
    } else {
        const bool fcc = ControlAs<QAbstractButton>(id::kFccRadio)->isChecked();
        const std::optional<BandPlanWrite> plan = BandPlanFor(fcc, startIndex, endIndex);
        if (endIndex < startIndex || !plan) {
            ShowMessage(messages_.freqError);
            return false;
        }
        if (UhfSetFrequencyRegion(kReaderAddress, kBandRegion, plan->lowerKhz, plan->upperKhz, plan->stepKhz,
                                  plan->span) != ZENDRIK_OK) {
            ShowMessage(messages_.setFrequencyRegionFail);
            return false;
        }
        if (readerKind_ == kReaderKind1) {
            power = static_cast<uint8_t>(powerIndex + kNarrowPowerOffset);
        } else if (readerKind_ == kReaderKind0) {
            power = static_cast<uint8_t>(powerIndex);
        }
    }
    if (power && UhfSetOutPower(kReaderAddress, *power) != ZENDRIK_OK) {
        ShowMessage(messages_.getOutPowerFail);
        return false;
    }
    return true;
}

void CMainDlg::OnFactoryDefault() {
    const WaitCursor busy;
    ReadFields();
    UhfFactoryDefault(kReaderAddress);
    int32_t outcome = UhfSetAddress(kReaderAddress, kFactoryAddress);
    UhfSetWgIntervalTime(kReaderAddress, kFactoryWiegandInterval);
    UhfSetTriggerTime(kReaderAddress, kFactoryTriggerTime);
    UhfSetWeigand(kReaderAddress, kWiegand26Code);
    UhfSetWorkMode(kReaderAddress, kWorkModeAlwaysRead);
    if (const std::optional<int32_t> powerOutcome = WriteFactoryFrequencyAndPower()) {
        outcome = *powerOutcome;
    }
    if (outcome != ZENDRIK_OK) {
        ShowMessage(messages_.factoryDefaultFail);
        return;
    }
    fields_.status = messages_.success;
    ShowFields();
}

// The factory plan and power of the reader's kind; the power write's result, or nothing for a
// kind the tool has no factory values for.
std::optional<int32_t> CMainDlg::WriteFactoryFrequencyAndPower() {
    if (readerKind_ == kChannelReaderKind) {
        UhfSetFrequencyRegion(kReaderAddress, kChannelRegion, kFactoryFirstChannel, kFactoryLastChannel, 0,
                              0);
        return UhfSetOutPower(kReaderAddress, kFactoryPowerKind2);
    }
    if (readerKind_ != kReaderKind0 && readerKind_ != kReaderKind1) {
        return std::nullopt;
    }
    FrequencyReport current;
    if (UhfGetFrequencyRegion(kReaderAddress, &current.region, &current.first, &current.second, &current.step,
                              &current.span) == ZENDRIK_OK) {
        // The reader stays in the band it is in: the whole band is enabled.
        const FrequencyBand& band = BandForLowerFrequency(current.first);
        const int lastIndex = band.entries - 1;
        UhfSetFrequencyRegion(kReaderAddress, kBandRegion, band.firstKhz, BandFrequencyAt(band, lastIndex),
                              band.stepKhz, static_cast<uint8_t>(lastIndex));
    }
    return UhfSetOutPower(kReaderAddress,
                          readerKind_ == kReaderKind1 ? kFactoryPowerKind1 : kFactoryPowerKind0);
}

}  // namespace zendrik::tool
