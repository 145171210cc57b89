// The mode radios, the tag reading interval field and the hidden service buttons.
#include "tool/main_dlg.h"

namespace zendrik::tool {

void CMainDlg::OnAlwaysRead() {}

void CMainDlg::OnReadByTrigger() {}

void CMainDlg::OnWiegand26() {}

void CMainDlg::OnWiegand34() {}

void CMainDlg::OnUsbTransport() {}

void CMainDlg::OnComTransport() {}

void CMainDlg::OnUdpTransport() {}

void CMainDlg::OnFccBand() {}

void CMainDlg::OnEtsiBand() {}

void CMainDlg::OnReadTagIntervalChanged() {}

void CMainDlg::OnSetAddress() {}

void CMainDlg::OnGetAddress() {}

void CMainDlg::OnDecimalTestRead() {}

void CMainDlg::OnHexTestRead() {}

}  // namespace zendrik::tool
