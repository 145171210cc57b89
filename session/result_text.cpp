#include "session/result_text.h"

#include <array>

#include "exports/zendrik_session.h"

namespace zendrik::session {
namespace {

struct Words {
    int32_t code;
    const char* text;
};

// The words the command-line program has always printed, and those of the session codes.
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
    Words{ZENDRIK_NO_EVENT, "no event arrived in time"},
    Words{ZENDRIK_NO_TAG, "no tag is in the reader's field"},
    Words{ZENDRIK_ERR_BAD_ADDRESS, "the reader address does not parse"},
    Words{ZENDRIK_ERR_INVALID_ARGUMENT, "an argument is missing or out of range"},
    Words{ZENDRIK_ERR_IN_CALLBACK, "the call is not allowed inside an event callback"},
    Words{ZENDRIK_ERR_BUSY, "an inventory is running"},
    Words{ZENDRIK_ERR_NOT_RUNNING, "no inventory is running"},
    Words{ZENDRIK_ERR_TOO_SMALL, "the buffer is too small"},
    Words{ZENDRIK_ERR_NO_MEMORY, "the library ran out of memory"},
};

constexpr const char* kUnknownResult = "unknown result";

}  // namespace

const char* ResultText(int32_t code) {
    for (const Words& words : kWords) {
        if (words.code == code) {
            return words.text;
        }
    }
    return kUnknownResult;
}

}  // namespace zendrik::session
