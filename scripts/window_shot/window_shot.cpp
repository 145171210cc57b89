// Renders the main window into an image file, without a display: run with
// QT_QPA_PLATFORM=offscreen. No serial port is listed and no host address looked up, so the
// picture is the same on every machine.
//
//   zendrik-window-shot <output.png>              the window at start
//   zendrik-window-shot --connected <output.png>  connected to a virtual reader, a few tags read
#include <QAbstractButton>
#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/hid_socket_server.h"
#include "sim/reader.h"
#include "sim/temp_dir.h"
#include "tool/control_ids.h"
#include "tool/main_dlg.h"

namespace {

namespace id = zendrik::tool::control_id;

// Tags in the virtual reader's field, and how many reads to show: one tag is read twice.
const std::vector<std::vector<uint8_t>> kTags{
    {0xE2, 0x00, 0x00, 0x17, 0x22, 0x11, 0x01, 0x34, 0x12, 0x34, 0x56, 0x78},
    {0xE2, 0x00, 0x00, 0x17, 0x22, 0x11, 0x01, 0x58, 0x00, 0xA1, 0xB2, 0xC3},
    {0xE2, 0x00, 0x00, 0x17, 0x22, 0x11, 0x01, 0x77, 0x00, 0x04, 0xD2, 0x2F},
};
constexpr std::size_t kTagReads = 4;

// The virtual reader served on a socket of its own, for the library to find as its USB reader.
struct VirtualReader {
    zendrik::sim::TempDir directory;
    zendrik::sim::Reader reader;
    std::unique_ptr<zendrik::sim::HidSocketServer> server;

    VirtualReader() {
        for (const auto& tag : kTags) {
            reader.AddTag(tag);
        }
        server = std::make_unique<zendrik::sim::HidSocketServer>(
            [this](std::span<const uint8_t> request) { return reader.Answer(request); },
            directory.path() + "/hid.sock");
        ::setenv("ZENDRIK_HID_SOCKET", server->path().c_str(), 1);
    }
};

void Click(const zendrik::tool::CMainDlg& window, int controlId) {
    window.ControlAs<QAbstractButton>(controlId)->click();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const bool connected = argc == 3 && std::strcmp(argv[1], "--connected") == 0;
    if (argc != 2 && !connected) {
        std::fprintf(stderr, "usage: %s [--connected] <output.png>\n", argv[0]);
        return 2;
    }
    const char* output = argv[argc - 1];
    std::unique_ptr<VirtualReader> virtualReader;
    if (connected) {
        virtualReader = std::make_unique<VirtualReader>();
    }
    zendrik::tool::CMainDlg window(zendrik::tool::CMainDlg::Environment{});
    window.show();
    if (connected) {
        Click(window, id::kConnect);
        for (std::size_t read = 0; read < kTagReads; ++read) {
            Click(window, id::kReadTag);
        }
    }
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(output))) {
        std::fprintf(stderr, "could not write %s\n", output);
        return 1;
    }
    return 0;
}
