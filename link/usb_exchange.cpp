#include <algorithm>
#include <vector>

#include "exports/zendrik.h"
#include "link/frame.h"
#include "link/link.h"
#include "link/reply_check.h"

namespace zendrik {
namespace {

// Reads of the reply before the exchange gives up; the last one is not followed by a wait.
constexpr int kUsbPolls = 12;
constexpr uint8_t kReportId = 0;
// Input reports an exchange that waits for its reply throws away before it sends.
constexpr int kMostStaleReports = 64;

}  // namespace

bool Link::LocateUsb() {
    for (const HidDeviceInfo& info : hid_->Enumerate()) {
        if (info.vendorId != kReaderVendorId || info.productId != kReaderProductId) {
            continue;
        }
        std::unique_ptr<HidDevice> device = hid_->Open(info);
        if (!device) {
            return false;
        }
        // The fresh device has no input report pending: late replies to earlier requests are gone.
        usbDevice_ = std::move(device);
        return true;
    }
    return false;
}

bool Link::WriteUsbReport(std::span<const uint8_t> request) {
    if (!usbDevice_) {
        return false;
    }
    // Report id 0, then the first 64 bytes of the request, zero-padded to the output report length.
    std::vector<uint8_t> report(std::max<std::size_t>(usbDevice_->OutputReportLength(), 1), 0);
    report[0] = kReportId;
    const std::size_t carried = std::min({request.size(), kHidChunkSize, report.size() - 1});
    std::copy_n(request.begin(), carried, report.begin() + 1);
    return usbDevice_->WriteReport(report);
}

HidChunk Link::ReadUsbChunk() {
    HidChunk chunk{};
    if (usbDevice_ && !usbDevice_->ReadChunk(chunk)) {
        chunk.fill(0);
    }
    return chunk;
}

int32_t Link::UsbExchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                          std::span<uint8_t> reply) {
    if (replyWait_ == ReplyWait::kUntilArrived) {
        return UsbExchangeUntilArrived(variant, request, reply);
    }
    LocateUsb();  // outcome ignored: if the reader is gone, the write below fails on its own
    if (!WriteUsbReport(request)) {
        return ZENDRIK_ERR_NOT_REACHED;
    }
    HidChunk chunk{};
    for (int poll = 0; poll < kUsbPolls; ++poll) {
        clock_.wait(poll == 0 ? variant.firstWait : variant.pollWait);
        chunk = ReadUsbChunk();
        if (chunk[0] == kStartByte) {
            break;
        }
    }
    // A silent reader leaves an all-zero chunk: its CRC matches, its start byte does not.
    return CheckAndCopyReply(chunk, reply);
}

void Link::DropStaleUsbReports() {
    // A reply that came after an earlier exchange gave up must not be taken for this one's. The
    // bound keeps a device that floods reports from holding the exchange here.
    HidChunk stale{};
    for (int dropped = 0; dropped < kMostStaleReports && usbDevice_->ReadChunk(stale); ++dropped) {
    }
}

int32_t Link::UsbExchangeUntilArrived(const ExchangeVariant& variant, std::span<const uint8_t> request,
                                      std::span<uint8_t> reply) {
    // The device stays open from one exchange to the next; a freshly located one has nothing stale.
    const bool keptOpen = usbDevice_ != nullptr;
    if (keptOpen) {
        DropStaleUsbReports();
    } else {
        LocateUsb();
    }
    bool written = WriteUsbReport(request);
    // A write to a device that was unplugged (and perhaps plugged in again) fails: locate it afresh
    // and try once more before calling the reader unreachable.
    if (!written && keptOpen) {
        written = LocateUsb() && WriteUsbReport(request);
    }
    if (!written) {
        usbDevice_.reset();
        return ZENDRIK_ERR_NOT_REACHED;
    }
    // The same window as the polled exchange, but it ends as soon as the reply is there.
    const Clock::TimePoint deadline = clock_.now() + variant.firstWait + (kUsbPolls - 1) * variant.pollWait;
    HidChunk chunk{};
    for (;;) {
        const auto left = std::chrono::ceil<Milliseconds>(deadline - clock_.now());
        if (left <= Milliseconds::zero() || !usbDevice_->ReadChunkWithin(chunk, left)) {
            chunk.fill(0);  // no reply in time: the all-zero chunk fails the start byte check
            break;
        }
        if (chunk[0] == kStartByte) {
            break;
        }
    }
    return CheckAndCopyReply(chunk, reply);
}

}  // namespace zendrik
