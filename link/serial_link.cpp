#include "link/serial_link.h"

#include <algorithm>
#include <utility>

#include "link/com_port_map.h"
#include "link/quiet_wait.h"
#include "link/reply_check.h"
#include "link/result_codes.h"
#include "link/serial_collect.h"

namespace zendrik {
namespace {

constexpr std::string_view kTraceLinkName = "serial";

}  // namespace

SerialLink::SerialLink(Clock& clock, std::unique_ptr<SerialPortOpener> opener,
                       std::optional<SerialDevice> device)
    : clock_(clock), opener_(std::move(opener)), device_(std::move(device)) {}

int32_t SerialLink::Reopen() {
    // The port of an earlier connection is closed first: it holds the device's lock.
    Close();
    if (!device_) {
        return result::kPortNotOpen;
    }
    return Open(device_->comIndex ? ComDevicePath(*device_->comIndex) : device_->path, device_->baud);
}

int32_t SerialLink::Open(const std::string& devicePath, int32_t baud) {
    SerialOpenResult opened = opener_->Open(devicePath, baud);
    if (opened.code != result::kOk) {
        return opened.code;
    }
    // Replacing the handle closes a port opened earlier, so it does not stay locked until exit.
    port_ = std::move(opened.port);
    return result::kOk;
}

int32_t SerialLink::Close() {
    if (!port_) {
        return result::kPortNotOpen;
    }
    port_.reset();
    return result::kOk;
}

int32_t SerialLink::Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                             std::span<uint8_t> reply, const ReplyRules& rules, LateReplyWatch& late) {
    if (!port_) {
        return result::kPortNotOpen;
    }
    AwaitQuietBeforeRequest(late, clock_, kTraceLinkName,
                            [this](Milliseconds timeout) { return port_->DropArrivingWithin(timeout); });
    port_->Write(request);
    // A reply later than this exchange waited for it may be as late again after it gave up: the
    // quiet wait before the next request lasts as long as this exchange's whole wait.
    const Milliseconds patience = std::max(variant.patience, rules.serialPatience);
    late.NoteRequestSent(patience + SerialReplyPatience(port_->ByteTimeout()));
    SerialCollection collected;
    if (const int32_t result = CollectSerialReply(*port_, collected, clock_, patience);
        result != result::kOk) {
        return result;
    }
    return CheckAndCopyReply(collected, reply);
}

}  // namespace zendrik
