#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "link/clock.h"
#include "link/device_lock.h"
#include "link/hid_backend.h"
#include "link/reply_rules.h"
#include "link/serial_port.h"
#include "link/udp_transport.h"

namespace zendrik {

enum class LinkType : uint8_t { kUsb = 0, kSerial = 1, kUdp = 2 };

// How one request is sent and its reply collected. On USB the variants differ in the wait before
// the first poll of the reply and between polls; on serial and UDP they all behave alike.
struct ExchangeVariant {
    Milliseconds firstWait;
    Milliseconds pollWait;
    // How long the exchange waits for a reply that is slow to come (a reader busy with a long
    // inventory round), where the link waits until the reply arrives: USB with
    // ReplyWait::kUntilArrived, serial (for the start byte) and UDP. Zero keeps each link's own
    // time-outs; the polled USB window of the flat exports never changes.
    Milliseconds patience{0};

    constexpr ExchangeVariant WithPatience(Milliseconds answerTime) const {
        ExchangeVariant patient = *this;
        patient.patience = answerTime;
        return patient;
    }

    static constexpr ExchangeVariant Standard() { return {Milliseconds{10}, Milliseconds{2}}; }
    // Only the low 8 bits of the first wait count (callers pass 100 and 232).
    static constexpr ExchangeVariant Waited(int firstWaitMs) {
        return {Milliseconds{firstWaitMs & 0xFF}, Milliseconds{2}};
    }
    static constexpr ExchangeVariant TagRead() { return {Milliseconds{300}, Milliseconds{1}}; }

    bool operator==(const ExchangeVariant&) const = default;
};

// How a USB exchange waits for its reply. The flat exports poll the input reports in a fixed window
// (a first wait, then short waits between reads) and locate the device afresh for every exchange.
// Reader sessions keep their device open and sleep on it until the reply arrives, so an exchange
// takes as long as the reader needs and not a fixed window, without spinning.
enum class ReplyWait : uint8_t {
    kPolledWindow,
    kUntilArrived,
};

// OpenCom's port number that selects the USB HID reader instead of a serial port.
inline constexpr int32_t kUsbPort = 100;

// The reader's USB HID interface.
inline constexpr uint16_t kReaderVendorId = 0x0416;
inline constexpr uint16_t kReaderProductId = 0xB00B;

// The library's one link: which transport is in use, its handles and endpoints, and the two items
// the handshake leaves for later commands. The exported functions share one instance of it; tests
// build their own with fake transports and a simulated clock.
class Link {
  public:
    Link(Clock& clock, std::unique_ptr<HidBackend> hid, std::unique_ptr<SerialPortOpener> serialOpener,
         std::unique_ptr<UdpTransport> udp);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Sends one request and collects one validated reply over the link in use. On result::kOk the
    // whole reply frame (L + 8 bytes) is at the start of `reply`; on failure `reply` is untouched.
    // A reply that does not fit `reply` is refused with result::kBadReply. Under
    // LateReplies::kAwaitQuiet an exchange that follows one whose reply was not taken waits for
    // quiet first (see SuspectLateReply).
    int32_t Exchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                     std::span<uint8_t> reply);

    // The reply the latest exchange brought was not its command's answer: a refusal, or a data
    // length the command is never answered with, which may be the late answer to an earlier
    // request while the command's own is still on its way. Under LateReplies::kAwaitQuiet the next
    // request then waits until the link has been quiet for this exchange's answer time, as it does
    // after an exchange that failed once its request had gone out.
    void SuspectLateReply();

    // OpenCom: port 100 locates the USB reader, any other value opens serial port index `port`.
    int32_t OpenCom(int32_t port, int32_t baud);
    // Opens a serial device by path, with OpenCom's results.
    int32_t OpenSerialDevice(const std::string& devicePath, int32_t baud);
    int32_t CloseCom();

    // Finds the reader among the HID devices and opens it afresh; keeps the previous device when
    // the reader is not found. True when the reader is listed, even when it cannot be opened (then
    // commands fail to write, and usb_open_failure() tells why).
    bool LocateUsb();

    // The latest locate listed the reader but could not open it: which node, and errno.
    struct UsbOpenFailure {
        std::string path;
        int error = 0;
    };
    const std::optional<UsbOpenFailure>& usb_open_failure() const { return usbOpenFailure_; }

    LinkType type() const { return type_; }
    void set_type(LinkType type) { type_ = type; }
    Clock& clock() { return clock_; }
    ReplyWait reply_wait() const { return replyWait_; }
    void set_reply_wait(ReplyWait wait) { replyWait_ = wait; }
    const ReplyRules& reply_rules() const { return replyRules_; }
    void set_reply_rules(const ReplyRules& rules);
    // Forgets the USB device, so that the next exchange locates it again.
    void ForgetUsbDevice() { usbDevice_.reset(); }

    UdpEndpoints& udp_endpoints() { return udpEndpoints_; }
    UdpTransport& udp() { return *udp_; }

    uint8_t reader_kind() const { return readerKind_; }
    void set_reader_kind(uint8_t kind) { readerKind_ = kind; }
    bool settle_pending() const { return settlePending_; }
    void set_settle_pending(bool pending) { settlePending_ = pending; }
    // If a handshake left the settle flag set, waits `duration` and clears it.
    void SettleOnce(Milliseconds duration);

  private:
    // Records that the request is out: an exchange that fails from here on may be answered late.
    // `answerTime` is how long the link waits for a reply that does not come: USB and UDP without
    // the variant's patience (their replies come whole the moment the reader sends them), serial
    // with it (a loaded machine may hold a reply back on its way through the line's driver).
    void NoteRequestSent(Milliseconds answerTime) { sentAnswerTime_ = answerTime; }
    // The quiet period the next request has to wait for, if any; taking it clears it.
    std::optional<Milliseconds> TakeQuietPeriod();
    void TraceQuietWait(int dropped) const;
    int32_t SerialExchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                           std::span<uint8_t> reply);
    int32_t UsbExchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                        std::span<uint8_t> reply);
    int32_t UsbExchangeUntilArrived(const ExchangeVariant& variant, std::span<const uint8_t> request,
                                    std::span<uint8_t> reply);
    void DropStaleUsbReports();
    void AwaitUsbQuiet();
    int32_t AwaitUsbReply(const ExchangeVariant& variant, std::span<uint8_t> reply);
    std::optional<HidDeviceInfo> FindUsbReader();
    void OpenUsbReader(const HidDeviceInfo& reader);
    // The device lock of the reader at `devicePath`; nothing when another program kept it.
    std::optional<DeviceLock> LockUsbDevice(const std::string& devicePath);
    // Locates and opens the reader afresh under its device lock (one that holds nothing when the
    // reader is not listed); nothing when another program kept the device.
    std::optional<DeviceLock> LocateUsbLocked();
    void NoteUsbLockReleased(const DeviceLock& lock);
    int32_t WriteAndPoll(const ExchangeVariant& variant, std::span<const uint8_t> request,
                         std::span<uint8_t> reply);
    int32_t UdpExchange(const ExchangeVariant& variant, std::span<const uint8_t> request,
                        std::span<uint8_t> reply);
    void AwaitSerialQuiet();
    void AwaitUdpQuiet();
    bool WriteUsbReport(std::span<const uint8_t> request);
    HidChunk ReadUsbChunk();

    Clock& clock_;
    std::unique_ptr<HidBackend> hid_;
    std::unique_ptr<SerialPortOpener> serialOpener_;
    std::unique_ptr<UdpTransport> udp_;

    LinkType type_ = LinkType::kUsb;
    ReplyWait replyWait_ = ReplyWait::kPolledWindow;
    ReplyRules replyRules_;
    std::optional<Milliseconds> sentAnswerTime_;  // of the latest exchange, once its request went out
    std::optional<Milliseconds> quietPeriod_;     // what the next request waits for before it goes out
    std::unique_ptr<SerialPort> serial_;
    std::unique_ptr<HidDevice> usbDevice_;
    std::string usbDevicePath_;  // of usbDevice_
    std::optional<UsbOpenFailure> usbOpenFailure_;
    std::optional<Clock::TimePoint> usbLockReleased_;  // when our latest exchange let go of the device
    // The lock file of the device at usbLockFilePath_, kept open between the exchanges of a device
    // kept open; looked up afresh whenever the reader is located afresh.
    std::shared_ptr<const UniqueFd> usbLockFile_;
    std::string usbLockFilePath_;
    UdpEndpoints udpEndpoints_;
    uint8_t readerKind_ = 0;
    bool settlePending_ = false;
};

}  // namespace zendrik
