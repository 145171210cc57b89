// A reader session's link is made over the one transport its address names, with the session's
// rules: no other medium's device, port or socket layer is made for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/serial_link.h"
#include "link/udp_link.h"
#include "link/usb_hid_link.h"
#include "session/address.h"
#include "session/reader_link.h"
#include "tests/support/fake_clock.h"
#include "zendrik/zendrik.h"

namespace zendrik::session {
namespace {

TEST(ReaderLink, IsMadeOverTheTransportTheAddressNamesOnly) {
    struct Case {
        std::string address;
        LinkType type;
    };
    const std::vector<Case> cases{
        {"usb", LinkType::kUsb},
        {"usb:/nonexistent/hidraw9", LinkType::kUsb},
        {"serial:/nonexistent/ttyS9?baud=9600", LinkType::kSerial},
        {"serial:COM3", LinkType::kSerial},
        {"udp:127.0.0.1:2000?local=127.0.0.1:2001", LinkType::kUdp},
    };
    for (const Case& c : cases) {
        testing::FakeClock clock;
        const ParsedAddress parsed = ParseReaderAddress(c.address);
        ASSERT_TRUE(parsed.address) << c.address;
        const std::unique_ptr<Link> link = MakeReaderLink(*parsed.address, clock);
        EXPECT_EQ(link->type(), c.type) << c.address;
        EXPECT_EQ(link->reply_rules(), ReplyRules::Strict()) << c.address;
        LinkTransport* transport = &link->transport();
        const auto* usb = dynamic_cast<UsbHidLink*>(transport);
        auto* udp = dynamic_cast<UdpLink*>(transport);
        EXPECT_EQ(usb != nullptr, c.type == LinkType::kUsb) << c.address;
        EXPECT_EQ(dynamic_cast<SerialLink*>(transport) != nullptr, c.type == LinkType::kSerial) << c.address;
        EXPECT_EQ(udp != nullptr, c.type == LinkType::kUdp) << c.address;
        if (usb != nullptr) {
            EXPECT_EQ(usb->reply_wait(), ReplyWait::kUntilArrived) << c.address;
        }
        if (udp != nullptr) {
            const auto& address = std::get<UdpAddress>(*parsed.address);
            EXPECT_EQ(udp->endpoints().host.port, address.local.port) << c.address;
            EXPECT_EQ(udp->endpoints().reader.port, address.reader.port) << c.address;
            EXPECT_EQ(udp->endpoints().reader.ip, address.reader.ip) << c.address;
            EXPECT_EQ(link->transport().Reopen(), ZENDRIK_OK) << "UDP has nothing to open";
        }
    }
}

}  // namespace
}  // namespace zendrik::session
