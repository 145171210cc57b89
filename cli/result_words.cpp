#include "cli/result_words.h"

#include <zendrik.h>

#include <array>
#include <cstring>
#include <string_view>

namespace zendrik::cli {
namespace {

struct Words {
    int32_t code;
    std::string_view text;
};

constexpr std::array kWords{
    Words{ZENDRIK_OK, "success"},
    Words{ZENDRIK_LIST_EMPTY, "the reader listed no tags"},
    Words{ZENDRIK_ERR_NOT_REACHED, "the reader could not be reached"},
    Words{ZENDRIK_ERR_PORT_OPEN, "the serial port could not be opened"},
    Words{ZENDRIK_ERR_PORT_GET_SETTINGS, "the serial port's line settings could not be read"},
    Words{ZENDRIK_ERR_PORT_SET_SETTINGS, "the serial port refused the line settings"},
    Words{ZENDRIK_ERR_PORT_NOT_OPEN, "no serial port is open"},
    Words{ZENDRIK_ERR_SHORT_FRAME_STATUS, "the reader reported a failed short-frame command"},
    Words{ZENDRIK_ERR_BAD_REPLY, "the reply was missing or damaged"},
    Words{ZENDRIK_ERR_SOCKET_VERSION, "the socket layer is unusable"},
    Words{ZENDRIK_ERR_VERIFY, "the reader kept a different value"},
    Words{ZENDRIK_ERR_STATUS, "the reader refused the command or did not answer"},
    Words{ZENDRIK_ERR_BYTE_TIMEOUT, "the reply stopped half-way"},
    Words{ZENDRIK_ERR_NO_START_BYTE, "no reply arrived on the serial line"},
    Words{ZENDRIK_ERR_NO_USB_READER, "no USB reader was found"},
    Words{ZENDRIK_ERR_EPC_RANGE, "the field lies outside the tag number"},
    Words{ZENDRIK_ERR_UDP_NO_REPLY, "no reply arrived over UDP"},
    Words{ZENDRIK_ERR_PORT_BUSY, "the serial port is in use by another program"},
};

std::string WithCode(std::string_view text, int32_t code) {
    return std::string(text) + " (" + std::to_string(code) + ")";
}

}  // namespace

std::string ResultWords(int32_t code) {
    for (const Words& words : kWords) {
        if (words.code == code) {
            return WithCode(words.text, code);
        }
    }
    return WithCode("unknown result", code);
}

std::string HandshakeWords(int32_t code) {
    // The handshake reports a silent link and a refusing reader alike as a bad status.
    if (code == ZENDRIK_ERR_STATUS) {
        return WithCode("no reader answered", code);
    }
    return ResultWords(code);
}

std::string UsbOpenFailureWords(const std::string& node, int error) {
    return "the reader is plugged in but its device " + node + " cannot be opened (" + std::strerror(error) +
           "). The udev rule 70-zendrik.rules gives the user at the seat and the group plugdev access to it: "
           "the zendrik package installs it in /usr/lib/udev/rules.d; from the source tree run "
           "'sudo cp packaging/70-zendrik.rules /etc/udev/rules.d/ && sudo udevadm control --reload && "
           "sudo udevadm trigger', then plug the reader in again";
}

}  // namespace zendrik::cli
