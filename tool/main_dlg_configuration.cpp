// Read Configuration: the reader's settings read again into the window.
#include "tool/main_dlg.h"

namespace zendrik::tool {

void CMainDlg::OnReadConfiguration() {}

}  // namespace zendrik::tool
