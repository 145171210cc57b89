// Renders the main window as it looks at start into an image file, without a display: run with
// QT_QPA_PLATFORM=offscreen. No serial port is listed and no host address looked up, so the
// picture is the same on every machine.
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "tool/main_dlg.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    zendrik::tool::CMainDlg window(zendrik::tool::CMainDlg::Environment{});
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
