// Opening, switching and losing links through the shared library: the COM mapping, serial ports
// by index and by path, the USB reader by the virtual HID socket, and the UDP probe.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "sim/fault.h"
#include "tests/e2e/served_reader.h"
#include "tests/support/untouched_byte.h"
#include "zendrik/zendrik.h"

namespace zendrik::e2e {
namespace {

using zendrik::testing::kUntouched;

// Sets an environment variable for the scope of one test and restores it afterwards.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedVariable() { old_.empty() ? ::unsetenv(name_) : ::setenv(name_, old_.c_str(), 1); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    std::string old_;
};

std::string ComDevicePath(int32_t index) {
    std::array<char, 256> path{};
    if (GetComDevicePath(index, path.data(), path.size()) != ZENDRIK_OK) {
        return "<refused>";
    }
    return path.data();
}

struct ComMappingCase {
    int32_t index;
    const char* device;
};

TEST(ComPorts, IndicesMapToLinuxDevicesAndTheVariableOverridesOne) {
    const ScopedVariable com1("ZENDRIK_COM1", nullptr);
    const ScopedVariable com5("ZENDRIK_COM5", nullptr);
    const ScopedVariable com13("ZENDRIK_COM13", nullptr);
    const ScopedVariable com20(kPtyPortVariable, "/dev/serial/by-id/usb-reader");
    const std::vector<ComMappingCase> cases{
        {0, "/dev/ttyS0"},    {3, "/dev/ttyS3"},    {4, "/dev/ttyUSB0"},
        {12, "/dev/ttyACM0"}, {16, "/dev/ttyAMA0"}, {19, "/dev/serial/by-id/usb-reader"},
        {20, "/dev/ttyS0"},   {-1, "/dev/ttyS0"},
    };
    for (const ComMappingCase& c : cases) {
        EXPECT_EQ(ComDevicePath(c.index), c.device) << "index " << c.index;
    }
    std::array<char, 10> tooSmall{};
    EXPECT_EQ(GetComDevicePath(4, tooSmall.data(), tooSmall.size()), ZENDRIK_ERR_PORT_OPEN);
    EXPECT_EQ(GetComDevicePath(0, nullptr, 64), ZENDRIK_ERR_PORT_OPEN);
}

TEST(SerialLink, OpensExclusivelyClosesOnceAndFailsWithoutAPort) {
    ServedReader served(LinkKind::kSerial);
    ASSERT_EQ(served.Connect(), ZENDRIK_OK);
    EXPECT_EQ(ComDevicePath(kPtyPortIndex), served.Where());
    // The library holds the port exclusively: a second open of the same port is refused as busy.
    EXPECT_EQ(OpenCom(kPtyPortIndex, kSerialBaud), ZENDRIK_ERR_PORT_BUSY);
    uint8_t mode = kUntouched;
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_OK);

    EXPECT_EQ(CloseCom(), ZENDRIK_OK);
    EXPECT_EQ(CloseCom(), ZENDRIK_ERR_PORT_NOT_OPEN);
    mode = kUntouched;
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_ERR_PORT_NOT_OPEN);
    EXPECT_EQ(mode, kUntouched);

    // By path, as a /dev/serial/by-id link would be opened.
    EXPECT_EQ(OpenComDevice(served.Where().c_str(), 9600), ZENDRIK_OK);
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_OK);
    EXPECT_EQ(mode, served.reader().settings().workMode);
    EXPECT_EQ(CloseCom(), ZENDRIK_OK);
}

TEST(SerialLink, PortsThatCannotOpenAreRefused) {
    const ScopedVariable missing("ZENDRIK_COM2", "/nonexistent/zendrik-port");
    EXPECT_EQ(OpenCom(1, kSerialBaud), ZENDRIK_ERR_PORT_OPEN);
    EXPECT_EQ(OpenComDevice("/nonexistent/zendrik-port", kSerialBaud), ZENDRIK_ERR_PORT_OPEN);
    EXPECT_EQ(OpenComDevice(nullptr, kSerialBaud), ZENDRIK_ERR_PORT_OPEN);
    // Not a terminal: its line settings cannot be read.
    EXPECT_EQ(OpenComDevice("/dev/null", kSerialBaud), ZENDRIK_ERR_PORT_GET_SETTINGS);
}

TEST(UsbLink, NoReaderLeavesTheSerialLinkSelected) {
    CloseCom();
    const ScopedVariable nothing(kHidSocketVariable, "/nonexistent/zendrik-hid.sock");
    EXPECT_EQ(OpenCom(ZENDRIK_USB_PORT, 0), ZENDRIK_ERR_NO_USB_READER);
    uint8_t mode = kUntouched;
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_ERR_PORT_NOT_OPEN);
}

TEST(UsbLink, AnUnpluggedReaderFailsTheWriteAndAReplugIsPickedUp) {
    ServedReader served(LinkKind::kUsb);
    ASSERT_EQ(served.Connect(), ZENDRIK_OK);
    uint8_t mode = kUntouched;
    ASSERT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_OK);

    served.Unplug();
    mode = kUntouched;
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_ERR_NOT_REACHED);
    EXPECT_EQ(mode, kUntouched);

    // Plugged back in (another device socket): every exchange locates the reader afresh.
    ServedReader replugged(LinkKind::kUsb);
    const ScopedVariable socket(kHidSocketVariable, replugged.Where().c_str());
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_OK);
    EXPECT_EQ(mode, replugged.reader().settings().workMode);
}

TEST(UdpLink, ProbeAcceptsAnyReplyStartingWithTheStartByte) {
    ServedReader served(LinkKind::kUdp);
    served.reader().FailCommand(kHandshake, sim::Fault::Status(kStatusNoTag), 1);
    EXPECT_EQ(served.Connect(), ZENDRIK_OK);
    uint8_t mode = kUntouched;
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_OK);
}

TEST(UdpLink, ASilentReaderFailsTheProbeTwiceYetStaysTheLink) {
    ServedReader served(LinkKind::kUdp);
    served.reader().AddFault({sim::FaultTarget::Any(), sim::Fault::Silence(), std::nullopt});
    EXPECT_EQ(served.Connect(), ZENDRIK_ERR_NOT_REACHED);
    uint8_t mode = kUntouched;
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_ERR_UDP_NO_REPLY);
    EXPECT_EQ(mode, kUntouched);

    // Two probes, then the command: it still went to the stored reader address.
    std::vector<uint8_t> commands;
    for (const sim::LoggedRequest& logged : served.reader().requests()) {
        commands.push_back(logged.request.command);
    }
    EXPECT_EQ(commands, (std::vector<uint8_t>{kHandshake, kHandshake, kGetWorkMode}));
}

}  // namespace
}  // namespace zendrik::e2e
