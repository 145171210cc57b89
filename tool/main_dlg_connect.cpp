// Connect and Disconnect: opening the link, greeting the reader and reading its configuration
// back into the window.
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

#include "zendrik/zendrik.h"
#include "tool/connection_inputs.h"
#include "tool/control_ids.h"
#include "tool/main_dlg.h"
#include "tool/override_cursor.h"
#include "tool/version_text.h"

namespace zendrik::tool {
namespace {

namespace id = control_id;

constexpr uint8_t kHandshakeConnect = 1;
constexpr uint8_t kHandshakeDisconnect = 0;
}  // namespace

bool CMainDlg::UsbChosen() const {
    return ControlAs<QAbstractButton>(id::kUsbRadio)->isChecked();
}

void CMainDlg::OnConnect() {
    const WaitCursor busy;
    ReadFields();
    if (!OpenLink()) {
        return;
    }
    EnterConnected();
    fields_.status = messages_.connectSuccessful;
    ShowFields();
    ReadBackAfterConnect();
}

void CMainDlg::OnDisconnect() {
    uint8_t kind = 0;
    uint8_t low = 0;
    Handshake(kReaderAddress, kHandshakeDisconnect, &kind, &low);
    CloseCom();
    EnterDisconnected();
    fields_.status = messages_.disconnected;
    ShowFields();
}

// Opens the chosen link and greets the reader; false (with the failure shown) when either fails.
bool CMainDlg::OpenLink() {
    const int32_t baudRate = BaudRateForIndex(connectBaudList_->currentIndex());
    const int portIndex = SerialPortNumber(portList_->currentText()) - 1;
    if (ControlAs<QAbstractButton>(id::kUdpRadio)->isChecked()) {
        ReadFields();
        const QByteArray hostIp = IpAddressText(hostIp_->text()).toLatin1();
        const QByteArray readerIp = IpAddressText(readerIp_->text()).toLatin1();
        if (Net_Connect(hostIp.constData(), static_cast<int32_t>(fields_.hostPort), readerIp.constData(),
                        static_cast<int32_t>(fields_.readerPort)) != ZENDRIK_OK) {
            // Nothing was opened, so the window and the link stay as they were.
            fields_.status = messages_.connectFail;
            ShowMessage(fields_.status);
            ShowFields();
            return false;
        }
    } else if (OpenCom(UsbChosen() ? ZENDRIK_USB_PORT : portIndex, baudRate) != ZENDRIK_OK) {
        RefuseConnection();
        return false;
    }
    if (Handshake(kReaderAddress, kHandshakeConnect, &readerKind_, &lowValue_) != ZENDRIK_OK) {
        RefuseConnection();
        return false;
    }
    return true;
}

void CMainDlg::RefuseConnection() {
    EnterDisconnected();
    fields_.status = messages_.connectFail;
    ShowMessage(fields_.status);
    ShowFields();
    CloseCom();
}

// The reader's settings in the order the reader has always been asked for them at connection.
// Three failures end the read-back; the other items are shown whatever the reader answered.
void CMainDlg::ReadBackAfterConnect() {
    ReadBuzzer();
    ReadWorkMode();
    ReadTriggerTime();
    ReadWiegandInterval();
    ShowFields();
    if (!ReadWiegandOutput(true)) {
        return;
    }
    ReadPassword();
    ReadReadTagInterval();
    if (!ReadOutputPower()) {
        return;
    }
    if (readerKind_ == kReaderKind0 || readerKind_ == kReaderKind1) {
        ShowFields();
    }
    ReadIdentity();
    if (!ReadReaderAddress()) {
        return;
    }
    // A failed read leaves the zeroed plan, which selects nothing in the lists.
    ReadFrequencyPlan(FrequencyForm::kConnect);
}

// Version and serial number: kept in the members, shown by the next showing of the fields.
void CMainDlg::ReadIdentity() {
    IdentityBuffer version{};
    Get_Version(kReaderAddress, version.data());
    fields_.version = VersionText(version);
    IdentityBuffer serialNumber{};
    if (Get_SerNum(kReaderAddress, serialNumber.data()) == ZENDRIK_OK) {
        fields_.serialNumber = SerialNumberText(serialNumber);
    }
}

}  // namespace zendrik::tool
