#include "cli/result_words.h"

#include <zendrik_session.h>

#include <cstring>

namespace zendrik::cli {

// Codes of the transport kind also come from replies that failed, where the link did open: the
// codes that only opening gives are listed.
bool IsLinkOpenFailure(int32_t code) {
    switch (code) {
        case ZENDRIK_ERR_NO_USB_READER:
        case ZENDRIK_ERR_PORT_OPEN:
        case ZENDRIK_ERR_PORT_BUSY:
        case ZENDRIK_ERR_PORT_GET_SETTINGS:
        case ZENDRIK_ERR_PORT_SET_SETTINGS:
            return true;
        default:
            return false;
    }
}

std::string ResultWords(int32_t code) {
    return std::string(zendrik_result_text(code)) + " (" + std::to_string(code) + ")";
}

std::string HandshakeWords(int32_t code) {
    // A reader that refused the handshake; a link that got no answer reports its own failure.
    if (code == ZENDRIK_ERR_STATUS) {
        return "no reader answered (" + std::to_string(code) + ")";
    }
    return ResultWords(code);
}

std::string OpenFailureWords(int32_t code) {
    return IsLinkOpenFailure(code) ? "cannot open the link: " + ResultWords(code) : HandshakeWords(code);
}

std::string UsbOpenFailureWords(const std::string& node, int error) {
    return "the reader is plugged in but its device " + node + " cannot be opened (" + std::strerror(error) +
           "). The udev rule 70-zendrik.rules gives the user at the seat and the group plugdev access to it: "
           "the zendrik package installs it in /usr/lib/udev/rules.d; from the source tree run "
           "'sudo cp packaging/70-zendrik.rules /etc/udev/rules.d/ && sudo udevadm control --reload && "
           "sudo udevadm trigger', then plug the reader in again";
}

}  // namespace zendrik::cli
