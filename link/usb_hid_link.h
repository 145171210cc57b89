#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "link/clock.h"
#include "link/device_lock.h"
#include "link/hid_backend.h"
#include "link/link_transport.h"

namespace zendrik {

// How a USB exchange waits for its reply. The flat exports poll the input reports in a fixed window
// (a first wait, then short waits between reads) and locate the device afresh for every exchange.
// Reader sessions keep their device open and sleep on it until the reply arrives, so an exchange
// takes as long as the reader needs and not a fixed window, without spinning.
enum class ReplyWait : uint8_t {
    kPolledWindow,
    kUntilArrived,
};

// The reader's USB HID interface: one frame in one report each way, under the device lock that
// keeps other programs' exchanges with the reader apart from ours.
class UsbHidLink final : public LinkTransport {
  public:
    UsbHidLink(Clock& clock, std::unique_ptr<HidBackend> hid, ReplyWait wait = ReplyWait::kPolledWindow);
    ~UsbHidLink() override;

    LinkType type() const override { return LinkType::kUsb; }
    // Forgets the device and locates the reader afresh.
    int32_t Reopen() override;
    int32_t Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                     std::span<uint8_t> reply, const ReplyRules& rules, LateReplyWatch& late) override;

    // Finds the reader among the HID devices and opens it afresh; keeps the previous device when
    // the reader is not found. True when the reader is listed, even when it cannot be opened (then
    // commands fail to write, and usb_open_failure() tells why).
    bool Locate();
    // Forgets the device, so that the next exchange locates it again.
    void Forget() { device_.reset(); }

    // The latest locate listed the reader but could not open it: which node, and errno.
    struct OpenFailure {
        std::string path;
        int error = 0;
    };
    const std::optional<OpenFailure>& open_failure() const { return openFailure_; }

    ReplyWait reply_wait() const { return replyWait_; }
    void set_reply_wait(ReplyWait wait) { replyWait_ = wait; }

  private:
    int32_t ExchangePolled(const ExchangeVariant& variant, std::span<const uint8_t> request,
                           std::span<uint8_t> reply, LateReplyWatch& late);
    int32_t ExchangeUntilArrived(const ExchangeVariant& variant, std::span<const uint8_t> request,
                                 std::span<uint8_t> reply, LateReplyWatch& late);
    void DropStaleReports();
    void AwaitQuiet(LateReplyWatch& late);
    int32_t AwaitReply(const ExchangeVariant& variant, std::span<uint8_t> reply);
    std::optional<HidDeviceInfo> FindReader();
    void OpenReader(const HidDeviceInfo& reader);
    // The device lock of the reader at `devicePath`; nothing when another program kept it.
    std::optional<DeviceLock> LockDevice(const std::string& devicePath);
    // Locates and opens the reader afresh under its device lock (one that holds nothing when the
    // reader is not listed); nothing when another program kept the device.
    std::optional<DeviceLock> LocateLocked();
    void NoteLockReleased(const DeviceLock& lock);
    int32_t WriteAndPoll(const ExchangeVariant& variant, std::span<const uint8_t> request,
                         std::span<uint8_t> reply, LateReplyWatch& late);
    bool WriteReport(std::span<const uint8_t> request);
    HidChunk ReadChunk();

    Clock& clock_;
    std::unique_ptr<HidBackend> hid_;
    ReplyWait replyWait_;
    std::unique_ptr<HidDevice> device_;
    std::string devicePath_;  // of device_
    std::optional<OpenFailure> openFailure_;
    std::optional<Clock::TimePoint> lockReleased_;  // when our latest exchange let go of the device
    // The lock file of the device at lockFilePath_, kept open between the exchanges of a device
    // kept open; looked up afresh whenever the reader is located afresh.
    std::shared_ptr<const UniqueFd> lockFile_;
    std::string lockFilePath_;
};

}  // namespace zendrik
