// Save Changes and Factory Default: the window's settings checked and written to the reader.
#include <QAbstractButton>
#include <QComboBox>

#include "zendrik/zendrik.h"
#include "rules/factory_defaults.h"
#include "rules/value_ranges.h"
#include "tool/control_ids.h"
#include "tool/list_selection.h"
#include "tool/main_dlg.h"
#include "tool/override_cursor.h"
#include "tool/save_checks.h"

namespace zendrik::tool {
namespace {

namespace id = control_id;

constexpr uint8_t kPasswordCheckOn = 1;
constexpr uint8_t kPasswordCheckOff = 0;

int32_t SetFrequencyRegion(const rules::FrequencyPlan& plan) {
    return UhfSetFrequencyRegion(CMainDlg::kReaderAddress, plan.region, plan.first, plan.second, plan.step,
                                 plan.span);
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
    const uint8_t wiegandFormat = isChecked(id::kWiegand34Radio) ? kWiegand34Code : kWiegand26Code;
    rules::OutputBytes wgOutBytes{};
    wgOutBytes[kOutputEnable] = rules::kOutputEnabled;
    wgOutBytes[kOutputStart] = static_cast<uint8_t>(SelectedIndex(*startBytesList_));
    wgOutBytes[kOutputInverted] = isChecked(id::kForwardRadio) ? 0 : 1;
    if (UsbChosen()) {
        UhfSetWeigand(kReaderAddress, wiegandFormat);
        wgOutBytes[kOutputLength] = rules::WiegandBytes(wiegandFormat);
    } else {
        wgOutBytes[kOutputLength] = static_cast<uint8_t>(SelectedIndex(*lengthList_) + 1);
    }
    if (UhfSetWgOutByte(kReaderAddress, wgOutBytes.data()) != ZENDRIK_OK) {
        ShowMessage(messages_.setWiegandOutputSettingsFail);
        return false;
    }
    UhfSetWgIntervalTime(kReaderAddress, fields_.wiegandInterval);
    const rules::PasswordBytes password = rules::PasswordBytesOf(fields_.password.toStdString());
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
    if (readerKind_ == kChannelReaderKind) {
        // The channel lists count from 0, the reader from 1.
        if (SetFrequencyRegion(rules::ChannelPlan(startIndex + 1, endIndex + 1)) != ZENDRIK_OK) {
            ShowMessage(messages_.setFrequencyRegionFail);
            return false;
        }
    } else {
        const bool fcc = ControlAs<QAbstractButton>(id::kFccRadio)->isChecked();
        const std::optional<rules::FrequencyPlan> plan =
            rules::BandPlanOfEntries(fcc ? rules::kFccBand : rules::kEtsiBand, startIndex, endIndex);
        if (endIndex < startIndex || !plan) {
            ShowMessage(messages_.freqError);
            return false;
        }
        if (SetFrequencyRegion(*plan) != ZENDRIK_OK) {
            ShowMessage(messages_.setFrequencyRegionFail);
            return false;
        }
    }
    // The power list starts at the lowest power of the kind; a kind without one gets no power write.
    const std::optional<rules::ValueRange> powers = rules::PowerRangeOf(readerKind_);
    if (powers &&
        UhfSetOutPower(kReaderAddress, static_cast<uint8_t>(powerIndex + powers->min)) != ZENDRIK_OK) {
        ShowMessage(messages_.getOutPowerFail);
        return false;
    }
    return true;
}

void CMainDlg::OnFactoryDefault() {
    const WaitCursor busy;
    ReadFields();
    const rules::FactoryDefaults defaults = rules::FactoryDefaultsFor(readerKind_);
    const rules::ReaderSettings& values = defaults.values;
    UhfFactoryDefault(kReaderAddress);
    int32_t outcome = UhfSetAddress(kReaderAddress, values.address);
    UhfSetWgIntervalTime(kReaderAddress, values.wiegandInterval);
    UhfSetTriggerTime(kReaderAddress, values.triggerTime);
    UhfSetWeigand(kReaderAddress, values.wiegandFormat);
    UhfSetWorkMode(kReaderAddress, values.workMode);
    if (const std::optional<int32_t> powerOutcome = WriteFactoryFrequencyAndPower(values)) {
        outcome = *powerOutcome;
    }
    if (outcome != ZENDRIK_OK) {
        ShowMessage(messages_.factoryDefaultFail);
        return;
    }
    fields_.status = messages_.success;
    ShowFields();
    // The window still shows the values the reader held before: without reading them back, the
    // next Save would write them over the factory values.
    ReadConfigurationIntoWindow();
    ShowFields();
}

// The factory plan and power of the reader's kind; the power write's result, or nothing for a
// kind the tool has no factory values for.
std::optional<int32_t> CMainDlg::WriteFactoryFrequencyAndPower(const rules::ReaderSettings& values) {
    if (!rules::PowerRangeOf(readerKind_)) {
        return std::nullopt;
    }
    if (readerKind_ == kChannelReaderKind) {
        SetFrequencyRegion(values.frequency);
    } else if (FrequencyReport current;
               UhfGetFrequencyRegion(kReaderAddress, &current.region, &current.first, &current.second,
                                     &current.step, &current.span) == ZENDRIK_OK) {
        // The reader stays in the band it is in: the whole band is enabled.
        SetFrequencyRegion(rules::WholeBandPlan(current.first));
    }
    return UhfSetOutPower(kReaderAddress, values.power);
}

}  // namespace zendrik::tool
