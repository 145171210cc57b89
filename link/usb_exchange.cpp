#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "link/device_lock.h"
#include "link/frame.h"
#include "link/frame_trace.h"
#include "link/link.h"
#include "link/quiet_wait.h"
#include "link/reply_check.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

// Reads of the reply before the exchange gives up; the last one is not followed by a wait.
constexpr int kUsbPolls = 12;
constexpr uint8_t kReportId = 0;
// Input reports an exchange that waits for its reply throws away before it sends.
constexpr int kMostStaleReports = 64;
// How long an exchange waits for another program's exchange with the reader to end.
constexpr Milliseconds kDeviceLockPatience{1000};
constexpr std::string_view kTraceLinkName = "usb";

// How long an exchange of `variant` polls for a reply that does not come.
Milliseconds ReplyWindow(const ExchangeVariant& variant) {
    return variant.firstWait + (kUsbPolls - 1) * variant.pollWait;
}

// How long an exchange of `variant` that waits until the reply arrives waits for one that does not.
Milliseconds PatientReplyWindow(const ExchangeVariant& variant) {
    return std::max(ReplyWindow(variant), variant.patience);
}

}  // namespace

std::optional<HidDeviceInfo> Link::FindUsbReader() {
    for (const HidDeviceInfo& info : hid_->Enumerate()) {
        if (info.vendorId == kReaderVendorId && info.productId == kReaderProductId) {
            return info;
        }
    }
    usbOpenFailure_.reset();
    return std::nullopt;
}

void Link::OpenUsbReader(const HidDeviceInfo& reader) {
    std::unique_ptr<HidDevice> device = hid_->Open(reader);
    if (!device) {
        // Typically the node's permissions (no udev rule for the reader). The reader located is the
        // one to talk to: a device opened earlier is let go, so that the commands fail to write.
        const int error = errno != 0 ? errno : EIO;
        usbDevice_.reset();
        usbOpenFailure_ = UsbOpenFailure{reader.path, error};
        TraceEvent(kTraceLinkName, "cannot open " + reader.path + ": " + std::strerror(error));
        return;
    }
    // The fresh device has no input report pending: late replies to earlier requests are gone.
    usbDevice_ = std::move(device);
    usbDevicePath_ = reader.path;
    usbOpenFailure_.reset();
}

bool Link::LocateUsb() {
    const std::optional<HidDeviceInfo> reader = FindUsbReader();
    if (reader) {
        OpenUsbReader(*reader);
    }
    return reader.has_value();
}

std::optional<DeviceLock> Link::LockUsbDevice(const std::string& devicePath) {
    if (!usbLockFile_ || usbLockFilePath_ != devicePath) {
        const std::optional<DeviceLockFile> lockFile = LockFileOfDevice(devicePath);
        if (!lockFile) {
            usbLockFile_.reset();
            return DeviceLock();
        }
        usbLockFile_ = std::make_shared<const UniqueFd>(OpenDeviceLockFile(*lockFile));
        usbLockFilePath_ = devicePath;
    }
    // A program that waits for the device retries every kDeviceLockRetry: right after our previous
    // exchange it gets a moment to take its turn, instead of our taking the device again at once.
    const std::optional<Clock::TimePoint> turnUntil =
        usbLockReleased_ ? std::optional(*usbLockReleased_ + kDeviceTurnGap) : std::nullopt;
    std::optional<DeviceLock> lock =
        DeviceLock::AcquireKept(usbLockFile_, clock_, kDeviceLockPatience, turnUntil);
    if (!lock) {
        TraceEvent(kTraceLinkName, devicePath + " stayed busy with another program's exchange");
    }
    return lock;
}

std::optional<DeviceLock> Link::LocateUsbLocked() {
    const std::optional<HidDeviceInfo> reader = FindUsbReader();
    // A reader located afresh may be another device at the same path (unplugged, plugged in again):
    // its lock file is looked up afresh too.
    usbLockFile_.reset();
    if (!reader) {
        return DeviceLock();  // nothing to lock: the write fails on its own (or goes to the device kept)
    }
    std::optional<DeviceLock> lock = LockUsbDevice(reader->path);
    if (lock) {
        OpenUsbReader(*reader);
    }
    return lock;
}

void Link::NoteUsbLockReleased(const DeviceLock& lock) {
    if (lock.held()) {
        usbLockReleased_ = clock_.now();
    }
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

// Every program with the reader open gets every input report, so the device is locked before the
// request is written and until the reply has been read: another program's exchange then neither
// sees ours nor adds its own. A device kept busy for the whole patience counts as a reader that
// did not answer.
int32_t Link::UsbExchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                          std::span<uint8_t> reply) {
    if (replyWait_ == ReplyWait::kUntilArrived) {
        return UsbExchangeUntilArrived(variant, request, reply);
    }
    // Located afresh, under the lock: if the reader is gone, the write fails on its own.
    const std::optional<DeviceLock> lock = LocateUsbLocked();
    if (!lock) {
        return result::kBadReply;
    }
    AwaitUsbQuiet();
    const int32_t result = WriteAndPoll(variant, request, reply);
    NoteUsbLockReleased(*lock);
    return result;
}

void Link::AwaitUsbQuiet() {
    if (const std::optional<Milliseconds> period = TakeQuietPeriod()) {
        TraceQuietWait(AwaitQuiet(clock_, *period, [this](Milliseconds timeout) {
            HidChunk dropped{};
            return usbDevice_ && usbDevice_->ReadChunkWithin(dropped, timeout);
        }));
    }
}

int32_t Link::WriteAndPoll(const ExchangeVariant& variant, std::span<const uint8_t> request,
                           std::span<uint8_t> reply) {
    if (!WriteUsbReport(request)) {
        return result::kNotReached;
    }
    NoteRequestSent(ReplyWindow(variant));
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
    // A reply that came after an earlier exchange gave up, or another program's reply, must not be
    // taken for this one's. The bound keeps a device that floods reports from holding the exchange.
    HidChunk stale{};
    for (int dropped = 0; dropped < kMostStaleReports && usbDevice_->ReadChunk(stale); ++dropped) {
    }
}

int32_t Link::UsbExchangeUntilArrived(const ExchangeVariant& variant, std::span<const uint8_t> request,
                                      std::span<uint8_t> reply) {
    // The device stays open from one exchange to the next; a freshly located one has nothing stale.
    // A kept device has heard every report while it was not ours: they go once the lock is held.
    const bool keptOpen = usbDevice_ != nullptr;
    std::optional<DeviceLock> lock = keptOpen ? LockUsbDevice(usbDevicePath_) : LocateUsbLocked();
    if (!lock) {
        return result::kBadReply;
    }
    if (keptOpen) {
        DropStaleUsbReports();
    }
    AwaitUsbQuiet();
    bool written = WriteUsbReport(request);
    // A write to a device that was unplugged (and perhaps plugged in again, perhaps as another
    // node) fails: locate it afresh and try once more before calling the reader unreachable.
    if (!written && keptOpen) {
        lock.reset();
        lock = LocateUsbLocked();
        if (!lock) {
            return result::kBadReply;
        }
        written = WriteUsbReport(request);
    }
    if (!written) {
        usbDevice_.reset();
        return result::kNotReached;
    }
    NoteRequestSent(ReplyWindow(variant));
    const int32_t result = AwaitUsbReply(variant, reply);
    NoteUsbLockReleased(*lock);
    return result;
}

int32_t Link::AwaitUsbReply(const ExchangeVariant& variant, std::span<uint8_t> reply) {
    // The polled exchange's window or the variant's patience, but it ends as soon as the reply is there.
    const Clock::TimePoint deadline = clock_.now() + PatientReplyWindow(variant);
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
