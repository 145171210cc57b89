// The public headers name every result code and kind again for C callers: each value is checked
// here against the library's one list, so that the two can never drift apart.
#include "zendrik/zendrik.h"
#include "zendrik/zendrik_session.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

#define ZENDRIK_SAME(public_name, internal_name) \
    static_assert((public_name) == (internal_name), #public_name " differs from the library's list")

ZENDRIK_SAME(ZENDRIK_OK, result::kOk);
ZENDRIK_SAME(ZENDRIK_LIST_EMPTY, result::kListEmpty);
ZENDRIK_SAME(ZENDRIK_ERR_NOT_REACHED, result::kNotReached);
ZENDRIK_SAME(ZENDRIK_ERR_PORT_OPEN, result::kPortOpen);
ZENDRIK_SAME(ZENDRIK_ERR_PORT_GET_SETTINGS, result::kPortGetSettings);
ZENDRIK_SAME(ZENDRIK_ERR_PORT_SET_SETTINGS, result::kPortSetSettings);
ZENDRIK_SAME(ZENDRIK_ERR_PORT_NOT_OPEN, result::kPortNotOpen);
ZENDRIK_SAME(ZENDRIK_ERR_SHORT_FRAME_STATUS, result::kShortFrameStatus);
ZENDRIK_SAME(ZENDRIK_ERR_BAD_REPLY, result::kBadReply);
ZENDRIK_SAME(ZENDRIK_ERR_SOCKET_VERSION, result::kSocketVersion);
ZENDRIK_SAME(ZENDRIK_ERR_VERIFY, result::kVerify);
ZENDRIK_SAME(ZENDRIK_ERR_STATUS, result::kStatus);
ZENDRIK_SAME(ZENDRIK_ERR_BYTE_TIMEOUT, result::kByteTimeout);
ZENDRIK_SAME(ZENDRIK_ERR_NO_START_BYTE, result::kNoStartByte);
ZENDRIK_SAME(ZENDRIK_ERR_NO_USB_READER, result::kNoUsbReader);
ZENDRIK_SAME(ZENDRIK_ERR_EPC_RANGE, result::kEpcRange);
ZENDRIK_SAME(ZENDRIK_ERR_UDP_NO_REPLY, result::kUdpNoReply);
ZENDRIK_SAME(ZENDRIK_ERR_PORT_BUSY, result::kPortBusy);
ZENDRIK_SAME(ZENDRIK_NO_EVENT, result::kNoEvent);
ZENDRIK_SAME(ZENDRIK_NO_TAG, result::kNoTag);
ZENDRIK_SAME(ZENDRIK_ERR_BAD_ADDRESS, result::kBadAddress);
ZENDRIK_SAME(ZENDRIK_ERR_INVALID_ARGUMENT, result::kInvalidArgument);
ZENDRIK_SAME(ZENDRIK_ERR_IN_CALLBACK, result::kInCallback);
ZENDRIK_SAME(ZENDRIK_ERR_BUSY, result::kBusy);
ZENDRIK_SAME(ZENDRIK_ERR_NOT_RUNNING, result::kNotRunning);
ZENDRIK_SAME(ZENDRIK_ERR_TOO_SMALL, result::kTooSmall);
ZENDRIK_SAME(ZENDRIK_ERR_NO_MEMORY, result::kNoMemory);
ZENDRIK_SAME(ZENDRIK_ERR_QUEUE_FULL, result::kQueueFull);
ZENDRIK_SAME(ZENDRIK_ERR_CANCELLED, result::kCancelled);

ZENDRIK_SAME(ZENDRIK_RESULT_KIND_UNKNOWN, static_cast<int32_t>(ResultKind::kUnknown));
ZENDRIK_SAME(ZENDRIK_RESULT_KIND_OK, static_cast<int32_t>(ResultKind::kOk));
ZENDRIK_SAME(ZENDRIK_RESULT_KIND_TRANSPORT, static_cast<int32_t>(ResultKind::kTransport));
ZENDRIK_SAME(ZENDRIK_RESULT_KIND_REFUSED, static_cast<int32_t>(ResultKind::kRefused));
ZENDRIK_SAME(ZENDRIK_RESULT_KIND_BAD_ARGUMENT, static_cast<int32_t>(ResultKind::kBadArgument));
ZENDRIK_SAME(ZENDRIK_RESULT_KIND_STATE, static_cast<int32_t>(ResultKind::kState));

#undef ZENDRIK_SAME

// Every code of the list has its public name above: the list and the checks are counted alike.
#define ZENDRIK_COUNT_CODE(name, value, words, kind) +1
constexpr int kCodesInList = 0 ZENDRIK_RESULT_CODES(ZENDRIK_COUNT_CODE);
#undef ZENDRIK_COUNT_CODE
static_assert(kCodesInList == 29, "a result code was added to the list without its public name");

}  // namespace
}  // namespace zendrik
