// The flat exports' link over one fake of each medium: the exchanges go over the medium chosen
// last, and each medium keeps what it holds while another is in use.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/net_connect.h"
#include "link/switching_link.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/support/fake_serial.h"
#include "tests/support/timed_udp.h"
#include "zendrik/zendrik.h"

namespace zendrik::testing {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kBaud = 115200;
constexpr int32_t kFirstSerialPort = 0;
constexpr uint16_t kHostPort = 4001;
constexpr uint16_t kReaderPort = 4000;
constexpr std::size_t kReplyBuffer = 300;
const Bytes kRequest = BuildStandardFrame(kBroadcastAddress, command::kHandshake, Bytes{0x01});

std::optional<Bytes> Answer(std::span<const uint8_t>) {
    return BuildStandardFrame(0, kStatusOk, Bytes{0x02, 0x01});
}

enum class Step { kOpenSerial, kOpenUsb, kOpenUsbWithoutReader, kNetConnect, kChooseUdp, kCloseCom };
enum class Medium { kNone, kSerial, kUsb, kUdp };

struct Rig {
    Rig() {
        hid.responder = Answer;
        auto owned = std::make_unique<TimedUdp>(clock);
        udp = owned.get();
        udp->responder = [](const Bytes& request) { return Answer(request); };
        link = std::make_unique<SwitchingLink>(clock, hid.MakeBackend(), line.MakeOpener(), std::move(owned));
    }

    int32_t Take(Step step) {
        switch (step) {
            case Step::kOpenSerial:
                return link->OpenCom(kFirstSerialPort, kBaud);
            case Step::kOpenUsb:
                hid.devices = {{"/fake/reader", kReaderVendorId, kReaderProductId}};
                return link->OpenCom(kUsbPort, kBaud);
            case Step::kOpenUsbWithoutReader:
                hid.devices.clear();
                return link->OpenCom(kUsbPort, kBaud);
            case Step::kNetConnect:
                return NetConnect(*link, {{"127.0.0.1", kHostPort}, {"127.0.0.1", kReaderPort}});
            case Step::kChooseUdp:
                link->set_type(LinkType::kUdp);
                return ZENDRIK_OK;
            case Step::kCloseCom:
                return link->CloseCom();
        }
        return ZENDRIK_ERR_STATUS;
    }

    // Which medium the next request reached.
    Medium ExchangeReached(int32_t& result) {
        const std::size_t serialBefore = line.writes.size();
        const std::size_t usbBefore = hid.writtenReports.size();
        const std::size_t udpBefore = udp->sent.size();
        line.Send(*Answer({}));
        Bytes reply(kReplyBuffer);
        result = link->Exchange(ExchangeVariant::Standard(), kRequest, reply);
        if (line.writes.size() > serialBefore) {
            return Medium::kSerial;
        }
        if (hid.writtenReports.size() > usbBefore) {
            return Medium::kUsb;
        }
        return udp->sent.size() > udpBefore ? Medium::kUdp : Medium::kNone;
    }

    FakeClock clock;
    FakeHid hid{clock};
    FakeSerialLine line;
    TimedUdp* udp = nullptr;  // owned by the link
    std::unique_ptr<SwitchingLink> link;
};

TEST(SwitchingLink, ExchangesGoOverTheMediumChosenLastAndEachKeepsWhatItHolds) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<int32_t> results;  // of the steps
        LinkType type;
        Medium reached;
        int32_t exchange;
        std::vector<std::string> serialLog;
    };
    const std::vector<Case> cases{
        {"starts on USB", {}, {}, LinkType::kUsb, Medium::kUsb, ZENDRIK_OK, {}},
        {"USB after serial leaves the port open",
         {Step::kOpenSerial, Step::kOpenUsb},
         {ZENDRIK_OK, ZENDRIK_OK},
         LinkType::kUsb,
         Medium::kUsb,
         ZENDRIK_OK,
         {"open /dev/ttyS0 115200"}},
        {"no USB reader after UDP falls back on the port still open",
         {Step::kOpenSerial, Step::kNetConnect, Step::kOpenUsbWithoutReader},
         {ZENDRIK_OK, ZENDRIK_OK, ZENDRIK_ERR_NO_USB_READER},
         LinkType::kSerial,
         Medium::kSerial,
         ZENDRIK_OK,
         {"open /dev/ttyS0 115200"}},
        {"the UDP endpoints stay set through serial",
         {Step::kNetConnect, Step::kOpenSerial, Step::kChooseUdp},
         {ZENDRIK_OK, ZENDRIK_OK, ZENDRIK_OK},
         LinkType::kUdp,
         Medium::kUdp,
         ZENDRIK_OK,
         {"open /dev/ttyS0 115200"}},
        {"CloseCom on USB closes the port and stays on USB",
         {Step::kOpenSerial, Step::kOpenUsb, Step::kCloseCom},
         {ZENDRIK_OK, ZENDRIK_OK, ZENDRIK_OK},
         LinkType::kUsb,
         Medium::kUsb,
         ZENDRIK_OK,
         {"open /dev/ttyS0 115200", "close /dev/ttyS0"}},
        {"after CloseCom serial has nothing to send on",
         {Step::kOpenSerial, Step::kOpenUsb, Step::kCloseCom, Step::kOpenUsbWithoutReader},
         {ZENDRIK_OK, ZENDRIK_OK, ZENDRIK_OK, ZENDRIK_ERR_NO_USB_READER},
         LinkType::kSerial,
         Medium::kNone,
         ZENDRIK_ERR_PORT_NOT_OPEN,
         {"open /dev/ttyS0 115200", "close /dev/ttyS0"}},
    };
    for (const Case& c : cases) {
        Rig rig;
        std::vector<int32_t> results;
        for (const Step step : c.steps) {
            results.push_back(rig.Take(step));
        }
        EXPECT_EQ(results, c.results) << c.name;
        EXPECT_EQ(rig.link->type(), c.type) << c.name;
        int32_t result = 0;
        EXPECT_EQ(rig.ExchangeReached(result), c.reached) << c.name;
        EXPECT_EQ(result, c.exchange) << c.name;
        EXPECT_EQ(rig.line.log, c.serialLog) << c.name;
        if (c.reached == Medium::kUdp) {
            EXPECT_EQ(rig.link->udp_endpoints().host.port, kHostPort) << c.name;
            EXPECT_EQ(rig.link->udp_endpoints().reader.port, kReaderPort) << c.name;
        }
    }
}

}  // namespace
}  // namespace zendrik::testing
