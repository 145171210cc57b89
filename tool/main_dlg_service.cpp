// The mode radios, the tag reading interval field and the hidden service buttons.
#include <QComboBox>

#include "zendrik/zendrik.h"
#include "tool/control_ids.h"
#include "tool/main_dlg.h"
#include "tool/version_text.h"

namespace zendrik::tool {
namespace {

namespace id = control_id;

}  // namespace

void CMainDlg::OnAlwaysRead() {
    SetControlEnabled(id::kTriggerTime, false);
}

void CMainDlg::OnReadByTrigger() {
    SetControlEnabled(id::kTriggerTime, true);
}

void CMainDlg::OnWiegand26() {
    ShowList(startBytesList_, WiegandStartBytes(kWiegand26Code));
}

void CMainDlg::OnWiegand34() {
    ShowList(startBytesList_, WiegandStartBytes(kWiegand34Code));
}

// Over USB the reader's output is a Wiegand number; over the other links a run of EPC bytes.
void CMainDlg::OnUsbTransport() {
    SetControlEnabled(id::kLengthList, false);
    SetControlEnabled(id::kWiegand26Radio, true);
    SetControlEnabled(id::kWiegand34Radio, true);
}

void CMainDlg::OnComTransport() {
    SetControlEnabled(id::kLengthList, true);
    SetControlEnabled(id::kWiegand26Radio, false);
    SetControlEnabled(id::kWiegand34Radio, false);
}

void CMainDlg::OnUdpTransport() {
    OnComTransport();
}

void CMainDlg::OnFccBand() {
    ShowBandPlan(kFccRadioPlan);
}

void CMainDlg::OnEtsiBand() {
    ShowBandPlan(kEtsiRadioPlan);
}

void CMainDlg::ShowBandPlan(const BandRadioPlan& plan) {
    const QStringList entries = BandListEntries(plan.band);
    ShowList(freqStartList_, MakeListContents(entries, plan.startIndex));
    ShowList(freqEndList_, MakeListContents(entries, plan.endIndex));
}

// Every change is checked at once, so a value out of range is prompted for as it is typed.
void CMainDlg::OnReadTagIntervalChanged() {
    ReadFields();
}

void CMainDlg::OnSetAddress() {
    ReadFields();
    if (UhfSetAddress(kReaderAddress, fields_.readerAddress) != ZENDRIK_OK) {
        ShowMessage(messages_.setAddressFail);
        return;
    }
    ShowFields();
}

void CMainDlg::OnGetAddress() {
    // A buffer the size of the longest version the library hands out, not a smaller one.
    IdentityBuffer version{};
    ReadFields();
    Get_Version(kReaderAddress, version.data());
    fields_.version = VersionText(version);
    uint8_t address = 0;
    if (UhfGetAddress(kReaderAddress, &address) != ZENDRIK_OK) {
        ShowMessage(messages_.getAddressFail);
        return;
    }
    fields_.readerAddress = address;
    ShowFields();
}

}  // namespace zendrik::tool
