#include "link/usb_hid_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/device_lock.h"
#include "link/frame.h"
#include "link/frame_trace.h"
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

UsbHidLink::UsbHidLink(Clock& clock, std::unique_ptr<HidBackend> hid, ReplyWait wait)
    : clock_(clock), hid_(std::move(hid)), replyWait_(wait) {}

UsbHidLink::~UsbHidLink() = default;

int32_t UsbHidLink::Reopen() {
    Forget();
    return Locate() ? result::kOk : result::kNoUsbReader;
}

std::optional<HidDeviceInfo> UsbHidLink::FindReader() {
    for (const HidDeviceInfo& info : hid_->Enumerate()) {
        if (info.vendorId == kReaderVendorId && info.productId == kReaderProductId) {
            return info;
        }
    }
    openFailure_.reset();
    return std::nullopt;
}

void UsbHidLink::OpenReader(const HidDeviceInfo& reader) {
    std::unique_ptr<HidDevice> device = hid_->Open(reader);
    if (!device) {
        // Typically the node's permissions (no udev rule for the reader). The reader located is the
        // one to talk to: a device opened earlier is let go, so that the commands fail to write.
        const int error = errno != 0 ? errno : EIO;
        device_.reset();
        openFailure_ = OpenFailure{reader.path, error};
        TraceEvent(kTraceLinkName, "cannot open " + reader.path + ": " + std::strerror(error));
        return;
    }
    // The fresh device has no input report pending: late replies to earlier requests are gone.
    device_ = std::move(device);
    devicePath_ = reader.path;
    openFailure_.reset();
}

bool UsbHidLink::Locate() {
    const std::optional<HidDeviceInfo> reader = FindReader();
    if (reader) {
        OpenReader(*reader);
    }
    return reader.has_value();
}

std::optional<DeviceLock> UsbHidLink::LockDevice(const std::string& devicePath) {
    if (!lockFile_ || lockFilePath_ != devicePath) {
        const std::optional<DeviceLockFile> lockFile = LockFileOfDevice(devicePath);
        if (!lockFile) {
            lockFile_.reset();
            return DeviceLock();
        }
        lockFile_ = std::make_shared<const UniqueFd>(OpenDeviceLockFile(*lockFile));
        lockFilePath_ = devicePath;
    }
    // A program that waits for the device retries every kDeviceLockRetry: right after our previous
    // exchange it gets a moment to take its turn, instead of our taking the device again at once.
    const std::optional<Clock::TimePoint> turnUntil =
        lockReleased_ ? std::optional(*lockReleased_ + kDeviceTurnGap) : std::nullopt;
    std::optional<DeviceLock> lock =
        DeviceLock::AcquireKept(lockFile_, clock_, kDeviceLockPatience, turnUntil);
    if (!lock) {
        TraceEvent(kTraceLinkName, devicePath + " stayed busy with another program's exchange");
    }
    return lock;
}

std::optional<DeviceLock> UsbHidLink::LocateLocked() {
    const std::optional<HidDeviceInfo> reader = FindReader();
    // A reader located afresh may be another device at the same path (unplugged, plugged in again):
    // its lock file is looked up afresh too.
    lockFile_.reset();
    if (!reader) {
        return DeviceLock();  // nothing to lock: the write fails on its own (or goes to the device kept)
    }
    std::optional<DeviceLock> lock = LockDevice(reader->path);
    if (lock) {
        OpenReader(*reader);
    }
    return lock;
}

void UsbHidLink::NoteLockReleased(const DeviceLock& lock) {
    if (lock.held()) {
        lockReleased_ = clock_.now();
    }
}

bool UsbHidLink::WriteReport(std::span<const uint8_t> request) {
    if (!device_) {
        return false;
    }
    // Report id 0, then the first 64 bytes of the request, zero-padded to the output report length.
    std::vector<uint8_t> report(std::max<std::size_t>(device_->OutputReportLength(), 1), 0);
    report[0] = kReportId;
    const std::size_t carried = std::min({request.size(), kHidChunkSize, report.size() - 1});
    std::copy_n(request.begin(), carried, report.begin() + 1);
    return device_->WriteReport(report);
}

HidChunk UsbHidLink::ReadChunk() {
    HidChunk chunk{};
    if (device_ && !device_->ReadChunk(chunk)) {
        chunk.fill(0);
    }
    return chunk;
}

// Every program with the reader open gets every input report, so the device is locked before the
// request is written and until the reply has been read: another program's exchange then neither
// sees ours nor adds its own. A device kept busy for the whole patience counts as a reader that
// did not answer.
int32_t UsbHidLink::Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                             std::span<uint8_t> reply, const ReplyRules&, LateReplyWatch& late) {
    if (replyWait_ == ReplyWait::kUntilArrived) {
        return ExchangeUntilArrived(variant, request, reply, late);
    }
    return ExchangePolled(variant, request, reply, late);
}

int32_t UsbHidLink::ExchangePolled(const ExchangeVariant& variant, std::span<const uint8_t> request,
                                   std::span<uint8_t> reply, LateReplyWatch& late) {
    // Located afresh, under the lock: if the reader is gone, the write fails on its own.
    const std::optional<DeviceLock> lock = LocateLocked();
    if (!lock) {
        return result::kBadReply;
    }
    AwaitQuiet(late);
    const int32_t result = WriteAndPoll(variant, request, reply, late);
    NoteLockReleased(*lock);
    return result;
}

void UsbHidLink::AwaitQuiet(LateReplyWatch& late) {
    AwaitQuietBeforeRequest(late, clock_, kTraceLinkName, [this](Milliseconds timeout) {
        HidChunk dropped{};
        return device_ && device_->ReadChunkWithin(dropped, timeout);
    });
}

int32_t UsbHidLink::WriteAndPoll(const ExchangeVariant& variant, std::span<const uint8_t> request,
                                 std::span<uint8_t> reply, LateReplyWatch& late) {
    if (!WriteReport(request)) {
        return result::kNotReached;
    }
    late.NoteRequestSent(ReplyWindow(variant));
    HidChunk chunk{};
    for (int poll = 0; poll < kUsbPolls; ++poll) {
        clock_.wait(poll == 0 ? variant.firstWait : variant.pollWait);
        chunk = ReadChunk();
        if (chunk[0] == kStartByte) {
            break;
        }
    }
    // A silent reader leaves an all-zero chunk: its CRC matches, its start byte does not.
    return CheckAndCopyReply(chunk, reply);
}

void UsbHidLink::DropStaleReports() {
    // A reply that came after an earlier exchange gave up, or another program's reply, must not be
    // taken for this one's. The bound keeps a device that floods reports from holding the exchange.
    HidChunk stale{};
    for (int dropped = 0; dropped < kMostStaleReports && device_->ReadChunk(stale); ++dropped) {
    }
}

int32_t UsbHidLink::ExchangeUntilArrived(const ExchangeVariant& variant, std::span<const uint8_t> request,
                                         std::span<uint8_t> reply, LateReplyWatch& late) {
    // The device stays open from one exchange to the next; a freshly located one has nothing stale.
    // A kept device has heard every report while it was not ours: they go once the lock is held.
    const bool keptOpen = device_ != nullptr;
    std::optional<DeviceLock> lock = keptOpen ? LockDevice(devicePath_) : LocateLocked();
    if (!lock) {
        return result::kBadReply;
    }
    if (keptOpen) {
        DropStaleReports();
    }
    AwaitQuiet(late);
    bool written = WriteReport(request);
    // A write to a device that was unplugged (and perhaps plugged in again, perhaps as another
    // node) fails: locate it afresh and try once more before calling the reader unreachable.
    if (!written && keptOpen) {
        lock.reset();
        lock = LocateLocked();
        if (!lock) {
            return result::kBadReply;
        }
        written = WriteReport(request);
    }
    if (!written) {
        device_.reset();
        return result::kNotReached;
    }
    late.NoteRequestSent(ReplyWindow(variant));
    const int32_t result = AwaitReply(variant, reply);
    NoteLockReleased(*lock);
    return result;
}

int32_t UsbHidLink::AwaitReply(const ExchangeVariant& variant, std::span<uint8_t> reply) {
    // The polled exchange's window or the variant's patience, but it ends as soon as the reply is there.
    const Clock::TimePoint deadline = clock_.now() + PatientReplyWindow(variant);
    HidChunk chunk{};
    for (;;) {
        const auto left = std::chrono::ceil<Milliseconds>(deadline - clock_.now());
        if (left <= Milliseconds::zero() || !device_->ReadChunkWithin(chunk, left)) {
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
