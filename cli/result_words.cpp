#include "cli/result_words.h"

#include <zendrik_session.hpp>

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

std::string HandshakeWords(int32_t code) {
    // A reader that refused the handshake; a link that got no answer reports its own failure.
    if (code == ZENDRIK_ERR_STATUS) {
        return "no reader answered (" + std::to_string(code) + ")";
    }
    return zendrik::result_words(code);
}

std::string OpenFailureWords(int32_t code) {
    return IsLinkOpenFailure(code) ? "cannot open the link: " + zendrik::result_words(code)
                                   : HandshakeWords(code);
}

}  // namespace zendrik::cli
