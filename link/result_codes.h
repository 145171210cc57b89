#pragma once

#include <cstdint>

// Every result code the library gives, in one list: its name inside the library, its value (the
// public headers carry the same values under ZENDRIK_* names, checked against this list where the
// exports are compiled), its words and its kind. The layers below the exports use these names, so
// that none of them needs a public header.
//
// Kinds: kOk, success or an outcome that is no failure; kTransport, the link failed (cannot open,
// no answer, a damaged answer, the device gone); kRefused, the reader answered and refused, or kept
// another value; kBadArgument, the caller asked for something that cannot be; kState, not now.
#define ZENDRIK_RESULT_CODES(X)                                                               \
    X(kOk, 0, "success", kOk)                                                                 \
    X(kListEmpty, 1, "the reader listed no tags", kOk)                                        \
    X(kNotReached, -16, "the reader could not be reached", kTransport)                        \
    X(kPortOpen, -32, "the serial port could not be opened", kTransport)                      \
    X(kPortGetSettings, -33, "the serial port's line settings could not be read", kTransport) \
    X(kPortSetSettings, -34, "the serial port refused the line settings", kTransport)         \
    X(kPortNotOpen, -35, "no serial port is open", kTransport)                                \
    X(kShortFrameStatus, -50, "the reader reported a failed short-frame command", kRefused)   \
    X(kBadReply, -82, "the reply was missing or damaged", kTransport)                         \
    X(kSocketVersion, 85, "the socket layer is unusable", kTransport)                         \
    X(kVerify, -129, "the reader kept a different value", kRefused)                           \
    X(kStatus, -130, "the reader refused the command or did not answer", kRefused)            \
    X(kByteTimeout, -132, "the reply stopped half-way", kTransport)                           \
    X(kNoStartByte, 136, "no reply arrived on the serial line", kTransport)                   \
    X(kNoUsbReader, -136, "no USB reader was found", kTransport)                              \
    X(kEpcRange, -143, "the field lies outside the tag number", kBadArgument)                 \
    X(kUdpNoReply, -145, "no reply arrived over UDP", kTransport)                             \
    X(kPortBusy, -149, "the serial port is in use by another program", kTransport)            \
    X(kNoEvent, 2, "no event arrived in time", kOk)                                           \
    X(kNoTag, 3, "no tag is in the reader's field", kOk)                                      \
    X(kBadAddress, -201, "the reader address does not parse", kBadArgument)                   \
    X(kInvalidArgument, -202, "an argument is missing or out of range", kBadArgument)         \
    X(kInCallback, -203, "the call is not allowed inside an event callback", kState)          \
    X(kBusy, -204, "an inventory is running", kState)                                         \
    X(kNotRunning, -205, "no inventory is running", kState)                                   \
    X(kTooSmall, -206, "the buffer is too small", kBadArgument)                               \
    X(kNoMemory, -207, "the library ran out of memory", kState)                               \
    X(kQueueFull, -208, "too many requests are waiting for the reader", kState)               \
    X(kCancelled, -209, "the request was not run: the reader was closed first", kState)

namespace zendrik {

namespace result {
#define ZENDRIK_RESULT_CONSTANT(name, value, words, kind) inline constexpr int32_t name = value;
ZENDRIK_RESULT_CODES(ZENDRIK_RESULT_CONSTANT)
#undef ZENDRIK_RESULT_CONSTANT
}  // namespace result

// The values are those of the public ZENDRIK_RESULT_KIND_* constants.
enum class ResultKind : int32_t {
    kUnknown = -1,
    kOk = 0,
    kTransport = 1,
    kRefused = 2,
    kBadArgument = 3,
    kState = 4
};

// The words of a code, without the number; "unknown result" for a code not in the list. Static.
const char* ResultWords(int32_t code);

ResultKind KindOfResult(int32_t code);

}  // namespace zendrik
