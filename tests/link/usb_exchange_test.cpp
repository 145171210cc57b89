#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <numeric>
#include <string>
#include <vector>

#include "link/crc16.h"
#include "link/frame.h"
#include "link/switching_link.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "zendrik/zendrik.h"

namespace zendrik {
namespace {

using testing::FakeClock;
using testing::FakeHid;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

const Bytes kProbe{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};
constexpr uint8_t kUntouched = 0x5A;
constexpr std::size_t kCallerBufferSize = 300;
constexpr uint16_t kKeyboardVendor = 0x046D;
constexpr uint16_t kKeyboardProduct = 0xC31C;

Bytes HandshakeReply() {
    return BuildStandardFrame(0xFF, kStatusOk, Bytes{0x02, 0x01});
}

Bytes ReplyWithData(std::size_t dataLength) {
    return BuildStandardFrame(0xFF, kStatusOk, Bytes(dataLength, 0x33));
}

// Lets a test see which device a locate opened; FakeHid itself does not look at the path.
class RecordingBackend final : public HidBackend {
  public:
    RecordingBackend(std::unique_ptr<HidBackend> inner, std::vector<std::string>& opened)
        : inner_(std::move(inner)), opened_(opened) {}
    std::vector<HidDeviceInfo> Enumerate() override { return inner_->Enumerate(); }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        opened_.push_back(info.path);
        return inner_->Open(info);
    }

  private:
    std::unique_ptr<HidBackend> inner_;
    std::vector<std::string>& opened_;
};

class UsbExchangeTest : public ::testing::Test {
  protected:
    UsbExchangeTest()
        : link(clock, std::make_unique<RecordingBackend>(hid.MakeBackend(), openedPaths), nullptr, nullptr) {
        reply.assign(kCallerBufferSize, kUntouched);
    }

    void AnswerWith(Bytes frame) {
        hid.responder = [frame](std::span<const uint8_t>) { return std::optional<Bytes>(frame); };
    }

    int32_t Exchange(const ExchangeVariant& variant = ExchangeVariant::Standard(),
                     const Bytes& request = kProbe) {
        return link.Exchange(variant, request, reply);
    }

    bool ReplyUntouched() const {
        return std::all_of(reply.begin(), reply.end(), [](uint8_t b) { return b == kUntouched; });
    }

    FakeClock clock;
    FakeHid hid{clock};
    std::vector<std::string> openedPaths;
    SwitchingLink link;
    Bytes reply;
};

TEST_F(UsbExchangeTest, LocateOpensTheFirstInterfaceWithBothReaderIds) {
    struct Case {
        const char* name;
        std::vector<HidDeviceInfo> devices;
        std::vector<std::string> opened;
    };
    const std::vector<Case> cases{
        {"keyboard listed first is skipped",
         {{"/kbd", kKeyboardVendor, kKeyboardProduct}, {"/reader", kReaderVendorId, kReaderProductId}},
         {"/reader"}},
        {"first of two readers wins",
         {{"/reader-a", kReaderVendorId, kReaderProductId}, {"/reader-b", kReaderVendorId, kReaderProductId}},
         {"/reader-a"}},
        {"vendor alone or product alone is no match",
         {{"/vendor-only", kReaderVendorId, 0x1234},
          {"/product-only", kKeyboardVendor, kReaderProductId},
          {"/reader", kReaderVendorId, kReaderProductId}},
         {"/reader"}},
        {"no reader", {{"/kbd", kKeyboardVendor, kKeyboardProduct}}, {}},
    };
    for (const Case& c : cases) {
        hid.devices = c.devices;
        openedPaths.clear();
        EXPECT_EQ(link.LocateUsb(), !c.opened.empty()) << c.name;
        EXPECT_EQ(openedPaths, c.opened) << c.name;
    }
}

TEST_F(UsbExchangeTest, OutputReportIsReportIdZeroThenTheFirst64RequestBytesZeroPadded) {
    Bytes longRequest(70);
    std::iota(longRequest.begin(), longRequest.end(), uint8_t{1});
    struct Case {
        const char* name;
        std::size_t outputLength;
        Bytes request;
        Bytes expected;
    };
    auto report = [](std::size_t length, const Bytes& carried) {
        Bytes bytes(length, 0);
        std::copy_n(carried.begin(), std::min(carried.size(), length - 1), bytes.begin() + 1);
        return bytes;
    };
    const std::vector<Case> cases{
        {"65-byte report", 65, kProbe, report(65, kProbe)},
        {"101-byte report", 101, kProbe, report(101, kProbe)},
        {"only 64 request bytes travel", 65, longRequest,
         report(65, Bytes(longRequest.begin(), longRequest.begin() + 64))},
        {"short report cuts the frame", 5, kProbe, report(5, kProbe)},
    };
    for (const Case& c : cases) {
        hid.outputReportLength = c.outputLength;
        hid.writtenReports.clear();
        Exchange(ExchangeVariant::Standard(), c.request);
        ASSERT_EQ(hid.writtenReports.size(), 1u) << c.name;
        EXPECT_EQ(hid.writtenReports[0], c.expected) << c.name;
    }
    // The worked example spelled out: report id 0, the 9 probe bytes, 55 zeros.
    ASSERT_EQ(report(65, kProbe).size(), 1 + kProbe.size() + 55);
}

TEST_F(UsbExchangeTest, ReplyOnTheFirstPollIsTakenWhole) {
    AnswerWith(HandshakeReply());
    EXPECT_EQ(Exchange(), ZENDRIK_OK);
    EXPECT_EQ(hid.reads, 1);
    EXPECT_EQ(clock.sleeps(), std::vector<milliseconds>{milliseconds{10}});
    const Bytes expected = HandshakeReply();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply.begin()));
    EXPECT_EQ(reply[expected.size()], kUntouched);
}

// The variants are constants, so the attempt tables of the commands are filled before any code
// runs, whatever order the library's files are initialised in.
static_assert(ExchangeVariant::Standard() == ExchangeVariant{Milliseconds{10}, Milliseconds{2}});
static_assert(ExchangeVariant::Waited(356) == ExchangeVariant::Waited(100));
static_assert(ExchangeVariant::TagRead() == ExchangeVariant{Milliseconds{300}, Milliseconds{1}});

TEST_F(UsbExchangeTest, SilentReaderGivesBadReplyAfterTwelvePollsWithTheVariantsWaits) {
    struct Case {
        const char* name;
        ExchangeVariant variant;
        int firstWaitMs;
        int pollWaitMs;
    };
    const std::vector<Case> cases{
        {"standard", ExchangeVariant::Standard(), 10, 2},
        {"waited 100", ExchangeVariant::Waited(100), 100, 2},
        {"waited 232", ExchangeVariant::Waited(232), 232, 2},
        {"waited 356 keeps its low 8 bits", ExchangeVariant::Waited(356), 100, 2},
        {"waited 256 keeps no wait", ExchangeVariant::Waited(256), 0, 2},
        {"tag read", ExchangeVariant::TagRead(), 300, 1},
    };
    for (const Case& c : cases) {
        clock.clear_sleeps();
        hid.reads = 0;
        EXPECT_EQ(Exchange(c.variant), ZENDRIK_ERR_BAD_REPLY) << c.name;
        EXPECT_EQ(hid.reads, 12) << c.name;
        std::vector<milliseconds> expected(12, milliseconds{c.pollWaitMs});
        expected[0] = milliseconds{c.firstWaitMs};
        EXPECT_EQ(clock.sleeps(), expected) << c.name;
        EXPECT_TRUE(ReplyUntouched()) << c.name;
    }
}

TEST_F(UsbExchangeTest, ReplyInsideThePollWindowIsTakenAndOneAfterItIsNeverSeen) {
    AnswerWith(HandshakeReply());
    hid.replyDelay = milliseconds{10 + 5 * 2};  // arrives just before the sixth poll
    EXPECT_EQ(Exchange(), ZENDRIK_OK);
    EXPECT_EQ(hid.reads, 6);

    hid.reads = 0;
    hid.replyDelay = milliseconds{10 + 11 * 2 + 1};  // one millisecond after the last poll
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_BAD_REPLY);
    EXPECT_EQ(hid.reads, 12);

    // The late reply has arrived by now, but the next exchange opens the device afresh.
    clock.advance(milliseconds{100});
    hid.responder = nullptr;
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_BAD_REPLY);
}

TEST_F(UsbExchangeTest, ReportThatArrivedBeforeTheExchangeIsNeverTaken) {
    ASSERT_TRUE(link.LocateUsb());
    hid.Deliver(HandshakeReply());
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_BAD_REPLY);
    EXPECT_TRUE(ReplyUntouched());
}

TEST_F(UsbExchangeTest, WithoutAReaderTheExchangeFailsAtTheWrite) {
    hid.devices.clear();
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_NOT_REACHED);
    EXPECT_TRUE(hid.writtenReports.empty());
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_TRUE(ReplyUntouched());
}

TEST_F(UsbExchangeTest, ExchangeWorksWithoutOpenComBecauseTheLinkStartsOnUsb) {
    EXPECT_EQ(link.type(), LinkType::kUsb);
    AnswerWith(HandshakeReply());
    EXPECT_EQ(Exchange(), ZENDRIK_OK);
}

TEST_F(UsbExchangeTest, OpenComOnTheUsbPortLocatesTheReader) {
    hid.devices.clear();
    EXPECT_EQ(link.OpenCom(ZENDRIK_USB_PORT, 0), ZENDRIK_ERR_NO_USB_READER);
    EXPECT_EQ(link.type(), LinkType::kSerial);

    hid.devices = {{"/reader", kReaderVendorId, kReaderProductId}};
    EXPECT_EQ(link.OpenCom(ZENDRIK_USB_PORT, 0), ZENDRIK_OK);
    EXPECT_EQ(link.type(), LinkType::kUsb);
    EXPECT_EQ(openedPaths, std::vector<std::string>{"/reader"});
}

TEST_F(UsbExchangeTest, LocateThatFindsNothingKeepsThePreviousDevice) {
    AnswerWith(HandshakeReply());
    ASSERT_EQ(Exchange(), ZENDRIK_OK);
    ASSERT_EQ(hid.opens, 1);

    hid.devices.clear();
    EXPECT_FALSE(link.LocateUsb());
    EXPECT_EQ(Exchange(), ZENDRIK_OK);  // still talks to the device opened before
    EXPECT_EQ(hid.opens, 1);
    EXPECT_EQ(hid.writtenReports.size(), 2u);

    // A device that has really gone fails the write of the report.
    hid.failWrites = true;
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_NOT_REACHED);
}

// Listed but not to be opened, as a hidraw node without the udev rule: the reader is found, the
// commands fail to write, and the node and the reason are on record and in the trace.
TEST_F(UsbExchangeTest, AReaderListedButNotOpenableIsFoundAndCommandsFailToWrite) {
    AnswerWith(HandshakeReply());
    ASSERT_EQ(Exchange(), ZENDRIK_OK);  // a device opened earlier is not the one to keep
    reply.assign(kCallerBufferSize, kUntouched);
    hid.openError = EACCES;
    ::setenv("ZENDRIK_TRACE", "1", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(link.OpenCom(ZENDRIK_USB_PORT, 0), ZENDRIK_OK);
    EXPECT_EQ(link.type(), LinkType::kUsb);
    const std::size_t written = hid.writtenReports.size();
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_NOT_REACHED);
    const std::string trace = ::testing::internal::GetCapturedStderr();
    ::unsetenv("ZENDRIK_TRACE");
    EXPECT_EQ(hid.writtenReports.size(), written);
    EXPECT_TRUE(ReplyUntouched());
    ASSERT_TRUE(link.usb_open_failure());
    EXPECT_EQ(link.usb_open_failure()->path, "/fake/reader");
    EXPECT_EQ(link.usb_open_failure()->error, EACCES);
    EXPECT_NE(trace.find(" usb cannot open /fake/reader: Permission denied\n"), std::string::npos) << trace;

    hid.openError = 0;
    EXPECT_EQ(Exchange(), ZENDRIK_OK);
    EXPECT_FALSE(link.usb_open_failure());
}

TEST_F(UsbExchangeTest, ReplyChecks) {
    auto swapCrc = [](Bytes frame) {
        std::swap(frame[frame.size() - 3], frame[frame.size() - 2]);
        return frame;
    };
    auto withEndByte = [](Bytes frame, uint8_t end) {
        frame.back() = end;
        return frame;
    };
    auto withLengthHigh = [](Bytes frame) {
        frame[kOffsetLengthHigh] = 0x01;  // covered by the CRC, otherwise not looked at
        const uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(kOffsetAddress, frame.size() - 4));
        frame[frame.size() - 3] = static_cast<uint8_t>(crc & 0xFF);
        frame[frame.size() - 2] = static_cast<uint8_t>(crc >> 8);
        return frame;
    };
    struct Case {
        const char* name;
        Bytes frame;
        std::size_t capacity;
        int32_t result;
    };
    const std::vector<Case> cases{
        {"valid", HandshakeReply(), kCallerBufferSize, ZENDRIK_OK},
        {"no data: 8 bytes", ReplyWithData(0), kCallerBufferSize, ZENDRIK_OK},
        {"56 data bytes fill the chunk", ReplyWithData(56), kCallerBufferSize, ZENDRIK_OK},
        {"57 data bytes do not fit one chunk", ReplyWithData(57), kCallerBufferSize, ZENDRIK_ERR_BAD_REPLY},
        {"swapped CRC", swapCrc(HandshakeReply()), kCallerBufferSize, ZENDRIK_ERR_BAD_REPLY},
        {"wrong end byte is accepted", withEndByte(HandshakeReply(), 0x00), kCallerBufferSize, ZENDRIK_OK},
        {"length high byte is ignored", withLengthHigh(HandshakeReply()), kCallerBufferSize, ZENDRIK_OK},
        {"exactly the caller's capacity", ReplyWithData(12), 20, ZENDRIK_OK},
        {"one byte over the caller's capacity", ReplyWithData(12), 19, ZENDRIK_ERR_BAD_REPLY},
    };
    for (const Case& c : cases) {
        AnswerWith(c.frame);
        Bytes buffer(c.capacity, kUntouched);
        EXPECT_EQ(link.Exchange(ExchangeVariant::Standard(), kProbe, buffer), c.result) << c.name;
        if (c.result == ZENDRIK_OK) {
            EXPECT_TRUE(std::equal(c.frame.begin(), c.frame.end(), buffer.begin())) << c.name;
        } else {
            EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == kUntouched; }))
                << c.name;
        }
    }
}

TEST_F(UsbExchangeTest, ChunkNotStartingWithTheStartByteIsNoReply) {
    Bytes frame = HandshakeReply();
    frame[0] = 0xAB;
    AnswerWith(frame);
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_BAD_REPLY);
    EXPECT_EQ(hid.reads, 12);
}

// Sessions keep their device open and sleep on it until the reply is there, within the same
// window as the polled exchange; a report left over from before is thrown away first.
TEST_F(UsbExchangeTest, WaitingForTheReplyEndsWhenItArrivesAndDropsStaleReports) {
    link.usb().set_reply_wait(ReplyWait::kUntilArrived);
    AnswerWith(HandshakeReply());
    struct Case {
        const char* name;
        ExchangeVariant variant;
        milliseconds replyDelay;
        bool staleReport;
        int32_t result;
        milliseconds took;
    };
    const std::vector<Case> cases{
        {"at once", ExchangeVariant::Standard(), milliseconds{0}, false, ZENDRIK_OK, milliseconds{0}},
        {"after 7 ms, not after a poll step", ExchangeVariant::Standard(), milliseconds{7}, false, ZENDRIK_OK,
         milliseconds{7}},
        {"last moment of the window", ExchangeVariant::Standard(), milliseconds{32}, false, ZENDRIK_OK,
         milliseconds{32}},
        {"after the window", ExchangeVariant::Standard(), milliseconds{33}, false, ZENDRIK_ERR_BAD_REPLY,
         milliseconds{32}},
        {"tag read window", ExchangeVariant::TagRead(), milliseconds{250}, false, ZENDRIK_OK,
         milliseconds{250}},
        {"stale report dropped", ExchangeVariant::Standard(), milliseconds{4}, true, ZENDRIK_OK,
         milliseconds{4}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Exchange(), ZENDRIK_OK) << c.name;  // the device is open, as between rounds
        clock.advance(milliseconds{100});             // let a late reply of the window arrive
        if (c.staleReport) {
            hid.Deliver(BuildStandardFrame(0xFF, kStatusOk, Bytes{0x7E}));
        }
        hid.replyDelay = c.replyDelay;
        reply.assign(kCallerBufferSize, kUntouched);
        const milliseconds before = clock.elapsed();
        EXPECT_EQ(Exchange(c.variant), c.result) << c.name;
        EXPECT_EQ(clock.elapsed() - before, c.took) << c.name;
        if (c.result == ZENDRIK_OK) {
            const Bytes expected = HandshakeReply();
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply.begin())) << c.name;
        }
        hid.replyDelay = milliseconds{0};
    }
    EXPECT_EQ(hid.opens, 1) << "the device stays open from one exchange to the next";
}

TEST_F(UsbExchangeTest, AWaitingExchangeLocatesTheDeviceAfreshWhenAWriteFails) {
    link.usb().set_reply_wait(ReplyWait::kUntilArrived);
    AnswerWith(HandshakeReply());
    ASSERT_EQ(Exchange(), ZENDRIK_OK);
    ASSERT_EQ(hid.opens, 1);
    // The write fails: the exchange locates the reader again and tries once more before it gives up.
    hid.failWrites = true;
    hid.writtenReports.clear();
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_NOT_REACHED);
    EXPECT_EQ(hid.writtenReports.size(), 2u);
    EXPECT_EQ(hid.opens, 2);
    // The device was let go; the next exchange locates the reader and talks to it.
    hid.failWrites = false;
    EXPECT_EQ(Exchange(), ZENDRIK_OK);
    EXPECT_EQ(hid.opens, 3);
    // No reader listed any more: nothing to send on, then or later.
    hid.devices.clear();
    hid.failWrites = true;
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_NOT_REACHED);
    hid.failWrites = false;
    EXPECT_EQ(Exchange(), ZENDRIK_ERR_NOT_REACHED);
}

}  // namespace
}  // namespace zendrik
