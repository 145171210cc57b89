// Feeds arbitrary bytes, as the reader's answer, to the reply collection and checks of all three
// transports, with a caller's reply buffer whose capacity also comes from the input. Besides the
// sanitizers' own findings, it stops on any exchange that writes to the reply buffer when it fails,
// or succeeds with a frame that does not start with the start byte or does not fit the buffer.
//
// Input: capacity low, capacity high, exchange variant and USB output report length, UDP flags,
// then the reader's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "link/crc16.h"
#include "link/frame.h"
#include "link/switching_link.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "zendrik/zendrik.h"

namespace zendrik {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::size_t kHeaderSize = 4;
// A little beyond the largest reply buffer a caller passes (300), and beyond the longest frame (263).
constexpr std::size_t kMaxCapacity = 320;
constexpr uint8_t kSentinel = 0x5A;
constexpr uint8_t kUdpSilentFlag = 0x01;
constexpr int kSerialPort = 0;
constexpr int32_t kBaud = 57600;
const Bytes kProbe{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};

struct FuzzInput {
    std::size_t capacity = 0;
    uint8_t variantAndLength = 0;
    uint8_t udpFlags = 0;
    std::span<const uint8_t> reader;
};

// The reader's bytes on the serial line, then nothing but time-outs.
class FeedPort final : public SerialPort {
  public:
    explicit FeedPort(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    void Write(std::span<const uint8_t>) override {}
    std::optional<uint8_t> ReadByte() override {
        if (next_ >= bytes_.size()) {
            return std::nullopt;
        }
        return bytes_[next_++];
    }
    Milliseconds ByteTimeout() const override { return Milliseconds::zero(); }
    bool DropArrivingWithin(Milliseconds) override { return false; }

  private:
    std::span<const uint8_t> bytes_;
    std::size_t next_ = 0;
};

class FeedPortOpener final : public SerialPortOpener {
  public:
    explicit FeedPortOpener(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    SerialOpenResult Open(const std::string&, int32_t) override {
        return {ZENDRIK_OK, std::make_unique<FeedPort>(bytes_)};
    }

  private:
    std::span<const uint8_t> bytes_;
};

// The reader's bytes as the one datagram that comes back, cut as a real socket cuts it.
class FeedUdp final : public UdpTransport {
  public:
    FeedUdp(std::span<const uint8_t> bytes, bool silent) : bytes_(bytes), silent_(silent) {}
    std::optional<Datagram> Transact(const UdpEndpoints&, std::span<const uint8_t>,
                                     const UdpTransactionOptions& options) override {
        if (silent_) {
            return std::nullopt;
        }
        const std::size_t kept = std::min(bytes_.size(), options.maxReceive);
        return Datagram{Bytes(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(kept)), 0};
    }
    std::optional<Datagram> Listen(const UdpEndpoints&, const UdpTransactionOptions&) override {
        return std::nullopt;
    }

  private:
    std::span<const uint8_t> bytes_;
    bool silent_;
};

ExchangeVariant PickVariant(uint8_t selector) {
    switch (selector % 3) {
        case 0:
            return ExchangeVariant::Standard();
        case 1:
            return ExchangeVariant::Waited(selector);
        default:
            return ExchangeVariant::TagRead();
    }
}

void Require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// One exchange into a buffer of exactly the capacity (on the heap, so that AddressSanitizer sees
// any write past it), then the promises every transport keeps.
void ExchangeAndCheck(Link& link, const FuzzInput& input, bool crcChecked) {
    Bytes reply(input.capacity, kSentinel);
    const int32_t result = link.Exchange(PickVariant(input.variantAndLength), kProbe, reply);
    if (result != ZENDRIK_OK) {
        Require(std::all_of(reply.begin(), reply.end(), [](uint8_t b) { return b == kSentinel; }));
        return;
    }
    Require(reply.size() > kOffsetLengthLow && reply[0] == kStartByte);
    const std::size_t frameLength = ReplyFrameLength(reply[kOffsetLengthLow]);
    Require(frameLength <= reply.size());
    if (crcChecked) {
        const std::size_t dataLength = reply[kOffsetLengthLow];
        const std::size_t crcOffset = kOffsetData + dataLength;
        const uint16_t crc =
            Crc16(std::span<const uint8_t>(reply).subspan(kOffsetAddress, kCrcHeaderBytes + dataLength));
        Require(reply[crcOffset] == (crc & 0xFF) && reply[crcOffset + 1] == (crc >> 8));
    }
}

void FuzzSerial(const FuzzInput& input) {
    testing::FakeClock clock;
    testing::FakeHid hid(clock);
    SwitchingLink link(clock, hid.MakeBackend(), std::make_unique<FeedPortOpener>(input.reader), nullptr);
    Require(link.OpenCom(kSerialPort, kBaud) == ZENDRIK_OK);
    ExchangeAndCheck(link, input, true);
}

// The reader's bytes arrive as 64-byte chunks, one before each poll of the reply.
void FuzzUsb(const FuzzInput& input) {
    testing::FakeClock clock;
    testing::FakeHid hid(clock);
    hid.outputReportLength = input.variantAndLength;
    std::size_t delivered = 0;
    clock.on_sleep([&] {
        if (delivered < input.reader.size()) {
            const std::size_t chunk = std::min(kHidChunkSize, input.reader.size() - delivered);
            hid.Deliver(input.reader.subspan(delivered, chunk));
            delivered += chunk;
        }
    });
    SwitchingLink link(clock, hid.MakeBackend(), nullptr, nullptr);
    ExchangeAndCheck(link, input, true);
}

void FuzzUdp(const FuzzInput& input) {
    testing::FakeClock clock;
    testing::FakeHid hid(clock);
    SwitchingLink link(clock, hid.MakeBackend(), nullptr,
                       std::make_unique<FeedUdp>(input.reader, (input.udpFlags & kUdpSilentFlag) != 0));
    link.set_type(LinkType::kUdp);
    ExchangeAndCheck(link, input, false);
}

}  // namespace
}  // namespace zendrik

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace zendrik;
    if (size < kHeaderSize) {
        return 0;
    }
    const std::span<const uint8_t> bytes(data, size);
    const FuzzInput input{(bytes[0] | (std::size_t{bytes[1]} << 8)) % (kMaxCapacity + 1), bytes[2], bytes[3],
                          bytes.subspan(kHeaderSize)};
    FuzzSerial(input);
    FuzzUsb(input);
    FuzzUdp(input);
    return 0;
}
