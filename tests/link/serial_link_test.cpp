// The serial exchange and the serial side of OpenCom/CloseCom, over a scripted line.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "link/crc16.h"
#include "link/frame.h"
#include "link/switching_link.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/support/fake_serial.h"
#include "zendrik/zendrik.h"

namespace zendrik {
namespace {

using testing::FakeClock;
using testing::FakeHid;
using testing::FakeSerialLine;
using Bytes = std::vector<uint8_t>;
using Event = FakeSerialLine::Event;

constexpr uint8_t kUntouched = 0xEE;
constexpr std::size_t kReplyBufferSize = 300;
constexpr int32_t kBaud = 115200;
const std::string kDevice = "/dev/ttyS0";

// The handshake probe (address 255, value 1).
const Bytes kRequest{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};

Bytes Reply(std::size_t dataLength) {
    Bytes data(dataLength);
    for (std::size_t i = 0; i < dataLength; ++i) {
        data[i] = static_cast<uint8_t>(i + 1);
    }
    return BuildStandardFrame(kBroadcastAddress, kStatusOk, data);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<Event> Events(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

std::vector<Event> Events(std::initializer_list<std::vector<Event>> parts) {
    std::vector<Event> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const std::vector<Event> kTimeOut{std::nullopt};

struct SerialRig {
    SerialRig() : link(clock, hid.MakeBackend(), line.MakeOpener(), nullptr) {}

    int32_t Exchange(std::span<uint8_t> reply) {
        return link.Exchange(ExchangeVariant::Standard(), kRequest, reply);
    }

    FakeClock clock;
    FakeHid hid{clock};
    FakeSerialLine line;
    SwitchingLink link;
};

struct CollectCase {
    const char* name;
    std::vector<Event> script;
    int32_t result;
    Bytes reply;  // expected at the start of the reply buffer on success
    int reads;    // reads the collection makes
};

TEST(SerialExchange, CollectsSynchronisesAndChecksTheReply) {
    const Bytes one = Reply(1);
    Bytes swappedCrc = one;
    std::swap(swappedCrc[6], swappedCrc[7]);
    Bytes badData = one;
    badData[5] ^= 0x01;
    Bytes wrongEnd = one;
    wrongEnd.back() = 0x00;
    // The high length byte is covered by the CRC but does not lengthen the frame.
    Bytes highLength{0xAA, 0xFF, 0xC8, 0x01, 0x01, 0x07};
    const uint16_t highLengthCrc = Crc16(std::span<const uint8_t>(highLength).subspan(1));
    highLength.insert(highLength.end(), {static_cast<uint8_t>(highLengthCrc & 0xFF),
                                         static_cast<uint8_t>(highLengthCrc >> 8), kEndByte});
    const Bytes largest = Reply(248);
    const Bytes tooLong249{0xAA, 0xFF, 0xC8, 249, 0x00, 0x01, 0x02};
    const Bytes tooLong255{0xAA, 0xFF, 0xC8, 255, 0x00, 0x01, 0x02};
    const int oneReads = static_cast<int>(one.size());

    const std::vector<CollectCase> cases{
        {"reply at once", Events(one), ZENDRIK_OK, one, oneReads},
        {"two stray bytes first", Events({Events(Bytes{0x00, 0x13}), Events(one)}), ZENDRIK_OK, one,
         oneReads + 2},
        {"stray byte and time-out first", Events({Events(Bytes{0x55}), kTimeOut, Events(one)}), ZENDRIK_OK,
         one, oneReads + 2},
        {"three stray bytes",
         Events(Concat({Bytes{0x01, 0x02, 0x03}, one})),
         ZENDRIK_ERR_NO_START_BYTE,
         {},
         3},
        {"three time-outs",
         Events({kTimeOut, kTimeOut, kTimeOut, Events(one)}),
         ZENDRIK_ERR_NO_START_BYTE,
         {},
         3},
        {"two stray bytes and a time-out",
         Events({Events(Bytes{0x01, 0x02}), kTimeOut, Events(one)}),
         ZENDRIK_ERR_NO_START_BYTE,
         {},
         3},
        {"stops after the start byte", Events(Bytes{0xAA}), ZENDRIK_ERR_BYTE_TIMEOUT, {}, 2},
        {"stops inside the data",
         Events(Bytes(one.begin(), one.begin() + 6)),
         ZENDRIK_ERR_BYTE_TIMEOUT,
         {},
         7},
        {"CRC bytes swapped", Events(swappedCrc), ZENDRIK_ERR_BAD_REPLY, {}, oneReads},
        {"data byte corrupted", Events(badData), ZENDRIK_ERR_BAD_REPLY, {}, oneReads},
        {"wrong end byte", Events(wrongEnd), ZENDRIK_OK, wrongEnd, oneReads},
        {"no data bytes", Events(Reply(0)), ZENDRIK_OK, Reply(0), 8},
        {"high length byte set", Events(highLength), ZENDRIK_OK, highLength, 9},
        {"248 data bytes fill the collection", Events(largest), ZENDRIK_OK, largest, 256},
        {"length byte 249 refused after the header", Events(tooLong249), ZENDRIK_ERR_BAD_REPLY, {}, 4},
        {"length byte 255 refused after the header", Events(tooLong255), ZENDRIK_ERR_BAD_REPLY, {}, 4},
        {"bytes after the frame are left unread", Events(Concat({one, Bytes{0xAA, 0x01}})), ZENDRIK_OK, one,
         oneReads},
    };
    for (const CollectCase& c : cases) {
        SerialRig rig;
        ASSERT_EQ(rig.link.OpenSerialDevice(kDevice, kBaud), ZENDRIK_OK);
        rig.line.script.assign(c.script.begin(), c.script.end());
        std::array<uint8_t, kReplyBufferSize> reply;
        reply.fill(kUntouched);

        EXPECT_EQ(rig.Exchange(reply), c.result) << c.name;
        EXPECT_EQ(rig.line.reads, c.reads) << c.name;
        EXPECT_EQ(rig.line.writes, std::vector<Bytes>{kRequest}) << c.name;
        const std::size_t copied = c.reply.size();
        EXPECT_TRUE(std::equal(c.reply.begin(), c.reply.end(), reply.begin())) << c.name;
        EXPECT_TRUE(
            std::all_of(reply.begin() + copied, reply.end(), [](uint8_t b) { return b == kUntouched; }))
            << c.name << ": bytes past the frame were written";
    }
}

TEST(SerialExchange, RefusesAReplyThatDoesNotFitTheCallersBuffer) {
    const Bytes reply = Reply(10);
    for (const std::size_t capacity : {reply.size() - 1, reply.size()}) {
        SerialRig rig;
        ASSERT_EQ(rig.link.OpenSerialDevice(kDevice, kBaud), ZENDRIK_OK);
        rig.line.Send(reply);
        Bytes buffer(capacity, kUntouched);
        const bool fits = capacity >= reply.size();
        EXPECT_EQ(rig.Exchange(buffer), fits ? ZENDRIK_OK : ZENDRIK_ERR_BAD_REPLY) << capacity;
        if (fits) {
            EXPECT_EQ(buffer, reply);
        } else {
            EXPECT_EQ(buffer, Bytes(capacity, kUntouched));
        }
    }
}

TEST(SerialExchange, WithoutAnOpenPortFailsBeforeTouchingTheLine) {
    SerialRig rig;
    Bytes buffer(kReplyBufferSize, kUntouched);
    rig.link.set_type(LinkType::kSerial);
    EXPECT_EQ(rig.Exchange(buffer), ZENDRIK_ERR_PORT_NOT_OPEN) << "never opened";

    rig.line.refusals[kDevice] = ZENDRIK_ERR_PORT_BUSY;
    EXPECT_EQ(rig.link.OpenSerialDevice(kDevice, kBaud), ZENDRIK_ERR_PORT_BUSY);
    EXPECT_EQ(rig.Exchange(buffer), ZENDRIK_ERR_PORT_NOT_OPEN) << "open refused";

    rig.line.refusals.clear();
    ASSERT_EQ(rig.link.OpenSerialDevice(kDevice, kBaud), ZENDRIK_OK);
    EXPECT_EQ(rig.link.CloseCom(), ZENDRIK_OK);
    EXPECT_EQ(rig.Exchange(buffer), ZENDRIK_ERR_PORT_NOT_OPEN) << "closed";

    EXPECT_TRUE(rig.line.writes.empty());
    EXPECT_EQ(rig.line.reads, 0);
    EXPECT_EQ(buffer, Bytes(kReplyBufferSize, kUntouched));
}

TEST(OpenCom, OpensTheDeviceOfTheLowSixteenBitsOfThePort) {
    const std::vector<std::pair<int32_t, std::string>> cases{
        {0, "/dev/ttyS0"},         {8, "/dev/ttyUSB4"},    {9, "/dev/ttyUSB5"},
        {19, "/dev/ttyAMA3"},      {20, "/dev/ttyS0"},     {-1, "/dev/ttyS0"},
        {0x10003, "/dev/ttyS3"},   {0xFFFF, "/dev/ttyS0"}, {0x7FFF0000, "/dev/ttyS0"},
        {0x10013, "/dev/ttyAMA3"},
    };
    for (const auto& [port, device] : cases) {
        SerialRig rig;
        EXPECT_EQ(rig.link.OpenCom(port, 4800), ZENDRIK_OK) << port;
        EXPECT_EQ(rig.link.type(), LinkType::kSerial) << port;
        EXPECT_EQ(rig.line.log, std::vector<std::string>{"open " + device + " 4800"}) << port;
    }
}

TEST(OpenCom, PortOneHundredSelectsUsbAndLeavesTheSerialLinkWhenNoReaderIsFound) {
    for (const int32_t port : {int32_t{ZENDRIK_USB_PORT}, int32_t{ZENDRIK_USB_PORT} + 0x10000}) {
        SerialRig rig;
        rig.hid.devices.clear();
        Bytes buffer(kReplyBufferSize, kUntouched);
        EXPECT_EQ(rig.link.OpenCom(port, kBaud), ZENDRIK_ERR_NO_USB_READER) << port;
        EXPECT_EQ(rig.link.type(), LinkType::kSerial) << port;
        EXPECT_EQ(rig.Exchange(buffer), ZENDRIK_ERR_PORT_NOT_OPEN) << port;
        EXPECT_TRUE(rig.line.log.empty()) << port << ": a serial port was opened";
    }
}

TEST(OpenCom, UsbLeavesAnOpenSerialPortAloneAndCloseComStillClosesIt) {
    SerialRig rig;
    ASSERT_EQ(rig.link.OpenCom(0, kBaud), ZENDRIK_OK);
    ASSERT_EQ(rig.link.OpenCom(ZENDRIK_USB_PORT, kBaud), ZENDRIK_OK);
    EXPECT_EQ(rig.link.type(), LinkType::kUsb);
    EXPECT_EQ(rig.line.log, std::vector<std::string>{"open /dev/ttyS0 115200"});

    EXPECT_EQ(rig.link.CloseCom(), ZENDRIK_OK);
    EXPECT_EQ(rig.link.type(), LinkType::kUsb) << "closing the serial port changes no link type";
    EXPECT_EQ(rig.line.log.back(), "close /dev/ttyS0");
}

TEST(OpenCom, ADifferentPortReplacesTheOpenOneAndClosesItAfterwards) {
    SerialRig rig;
    ASSERT_EQ(rig.link.OpenCom(0, kBaud), ZENDRIK_OK);
    ASSERT_EQ(rig.link.OpenCom(4, kBaud), ZENDRIK_OK);
    const std::vector<std::string> expected{"open /dev/ttyS0 115200", "open /dev/ttyUSB0 115200",
                                            "close /dev/ttyS0"};
    EXPECT_EQ(rig.line.log, expected);
}

TEST(OpenCom, AFailedOpenKeepsThePortAlreadyOpen) {
    for (const int32_t failure : {ZENDRIK_ERR_PORT_BUSY, ZENDRIK_ERR_PORT_OPEN, ZENDRIK_ERR_PORT_GET_SETTINGS,
                                  ZENDRIK_ERR_PORT_SET_SETTINGS}) {
        SerialRig rig;
        ASSERT_EQ(rig.link.OpenCom(0, kBaud), ZENDRIK_OK);
        rig.line.refusals["/dev/ttyUSB0"] = failure;
        EXPECT_EQ(rig.link.OpenCom(4, kBaud), failure);
        EXPECT_EQ(rig.line.log, std::vector<std::string>{"open /dev/ttyS0 115200"}) << failure;

        rig.line.Send(Reply(1));
        Bytes buffer(kReplyBufferSize);
        EXPECT_EQ(rig.Exchange(buffer), ZENDRIK_OK) << failure << ": the earlier port no longer answers";
    }
}

TEST(CloseCom, ClosesOnceThenReportsNoPort) {
    SerialRig rig;
    EXPECT_EQ(rig.link.CloseCom(), ZENDRIK_ERR_PORT_NOT_OPEN) << "never opened";
    ASSERT_EQ(rig.link.OpenCom(0, kBaud), ZENDRIK_OK);
    EXPECT_EQ(rig.link.CloseCom(), ZENDRIK_OK);
    EXPECT_EQ(rig.link.CloseCom(), ZENDRIK_ERR_PORT_NOT_OPEN);
    EXPECT_EQ(rig.link.type(), LinkType::kSerial);
    EXPECT_EQ(rig.line.log.back(), "close /dev/ttyS0");
}

}  // namespace
}  // namespace zendrik
