// Tag reading and the tag list.
#include "tool/main_dlg.h"

namespace zendrik::tool {

void CMainDlg::OnReadTag() {}

void CMainDlg::OnUsbTagRead() {}

void CMainDlg::OnTagListDoubleClicked() {}

}  // namespace zendrik::tool
