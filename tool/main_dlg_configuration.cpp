// Read Configuration, and the reading of single settings into the window that Connect shares.
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <array>

#include "zendrik/zendrik.h"
#include "tool/control_ids.h"
#include "tool/main_dlg.h"
#include "tool/override_cursor.h"

namespace zendrik::tool {
namespace {

namespace id = control_id;

}  // namespace

void CMainDlg::OnReadConfiguration() {
    const WaitCursor busy;
    ReadFields();
    if (!ReadConfigurationIntoWindow()) {
        return;
    }
    fields_.status = messages_.readConfigurationOk;
    ShowFields();
}

bool CMainDlg::ReadConfigurationIntoWindow() {
    ReadBuzzer();
    ReadTriggerTime();
    ShowFields();
    ReadWorkMode();
    if (!ReadWiegandOutput(false)) {
        return false;
    }
    ReadPassword();
    ReadReadTagInterval();
    ReadWiegandInterval();
    if (!ReadFrequencyPlan(FrequencyForm::kReadConfiguration)) {
        ShowMessage(messages_.getFrequencyRegionFail);
        return false;
    }
    return ReadReaderAddress() && ReadOutputPower();
}

// The outputs of the reads below start at zero: the library writes them only on success, and a
// failed read then shows as "off", "always read" and so on rather than as leftover memory.

void CMainDlg::ReadBuzzer() {
    uint8_t buzzer = 0;
    UhfGetBuzzer(kReaderAddress, &buzzer);
    ControlAs<QAbstractButton>(id::kBuzzerCheck)->setChecked(buzzer != 0);
}

void CMainDlg::ReadWorkMode() {
    uint8_t mode = 0;
    UhfGetWorkMode(kReaderAddress, &mode);
    const bool trigger = mode == kWorkModeTrigger;
    SetRadioChecked(id::kAlwaysReadRadio, !trigger);
    SetRadioChecked(id::kTriggerRadio, trigger);
    SetControlEnabled(id::kTriggerTime, trigger);
}

// Trigger read time and Wiegand output interval go into their members; the caller shows them.
void CMainDlg::ReadTriggerTime() {
    uint8_t triggerTime = 0;
    UhfGetTriggerTime(kReaderAddress, &triggerTime);
    fields_.triggerTime = triggerTime;
}

void CMainDlg::ReadWiegandInterval() {
    uint8_t wiegandInterval = 0;
    UhfGetWgIntervalTime(kReaderAddress, &wiegandInterval);
    fields_.wiegandInterval = wiegandInterval;
}

// The Wiegand output settings, then what describes the output on this transport: the Wiegand
// format over USB, the byte count otherwise.
bool CMainDlg::ReadWiegandOutput(bool clearFormatOffUsb) {
    std::array<uint8_t, kOutputBytesSize> wgOutBytes{};
    if (UhfGetWgOutByte(kReaderAddress, wgOutBytes.data()) != ZENDRIK_OK) {
        ShowMessage(messages_.getWiegandOutputSettingsFail);
        return false;
    }
    ApplyWiegandDisplay(wgOutBytes);
    if (UsbChosen()) {
        uint8_t format = 0;
        UhfGetWeigand(kReaderAddress, &format);
        if (format == kWiegand26Code || format == kWiegand34Code) {
            SetRadioChecked(id::kWiegand26Radio, format == kWiegand26Code);
            SetRadioChecked(id::kWiegand34Radio, format == kWiegand34Code);
        }
        return true;
    }
    lengthList_->setCurrentIndex(wgOutBytes[kOutputLength] - 1);
    if (clearFormatOffUsb) {
        SetRadioChecked(id::kWiegand26Radio, false);
        SetRadioChecked(id::kWiegand34Radio, false);
    }
    return true;
}

void CMainDlg::ReadPassword() {
    uint8_t check = 0;
    std::array<uint8_t, kPasswordBytes> password{};
    UhfGetPassword(kReaderAddress, &check, password.data());
    SetRadioChecked(id::kPasswordYesRadio, check != 0);
    SetRadioChecked(id::kPasswordNoRadio, check == 0);
    fields_.password = PasswordText(password);
    ControlAs<QLineEdit>(id::kPassword)->setText(fields_.password);
}

// The interval goes into its field; the field's change handler takes it into the member.
void CMainDlg::ReadReadTagInterval() {
    uint8_t interval = 0;
    UhfGetReadTagIntervalTime(kReaderAddress, &interval);
    ControlAs<QLineEdit>(id::kReadTagInterval)->setText(QString::number(interval));
}

bool CMainDlg::ReadOutputPower() {
    uint8_t power = 0;
    if (UhfGetOutPower(kReaderAddress, &power) != ZENDRIK_OK) {
        ShowMessage(messages_.getOutPowerFail);
        return false;
    }
    ApplyPowerList(power);
    return true;
}

bool CMainDlg::ReadReaderAddress() {
    uint8_t address = 0;
    if (UhfGetAddress(kReaderAddress, &address) != ZENDRIK_OK) {
        ShowMessage(messages_.getAddressFail);
        return false;
    }
    fields_.readerAddress = address;
    return true;
}

// Connect shows the plan whatever the reader answered (a failed read shows the zeroed plan, which
// selects nothing); Read Configuration shows it only when the read succeeded.
bool CMainDlg::ReadFrequencyPlan(FrequencyForm form) {
    FrequencyReport report;
    const bool read = UhfGetFrequencyRegion(kReaderAddress, &report.region, &report.first, &report.second,
                                            &report.step, &report.span) == ZENDRIK_OK;
    if (read || form == FrequencyForm::kConnect) {
        ApplyFrequencyDisplay(report, form);
    }
    return read;
}

}  // namespace zendrik::tool
