#include "tool/demo_app.h"

#include "tool/main_dlg.h"

namespace zendrik::tool {

CDemoApp::CDemoApp(int& argc, char** argv) : application_(argc, argv) {
    QApplication::setApplicationName(QString::fromLatin1(CMainDlg::kMessageTitle));
}

int CDemoApp::Run() {
    CMainDlg window;
    window.exec();
    return 0;
}

}  // namespace zendrik::tool
