// What the shared library returns when the virtual reader misbehaves, link by link: the plain
// commands pass the link's own failure code through, the identity commands turn every failure
// into ZENDRIK_ERR_STATUS, and the retried commands get over one bad reply.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/fault.h"
#include "tests/e2e/on_each_link.h"
#include "tests/support/untouched_byte.h"
#include "zendrik/zendrik.h"

namespace zendrik::e2e {
namespace {

using namespace std::chrono_literals;
using sim::Fault;

constexpr uint8_t kGetWiegandFormat = 0xE3;
constexpr uint8_t kVersion = 0xDD;
using zendrik::testing::kUntouched;
constexpr std::chrono::milliseconds kUsbLate{400};

struct FaultCase {
    LinkKind link;
    const char* name;
    Fault fault;
    int32_t result;
    // How long a late reply may still be on its way after the exchange gave up: the next exchange
    // starts after it, so that it checks the late reply is dropped rather than racing it.
    std::chrono::milliseconds settle{0};
};

// Serial: the reader's bytes are read one by one (300 ms per byte at 115200 baud), at most two
// misses before the start byte. USB: one report polled 12 times over about 32 ms; a loaded machine
// stretches the polls' sleeps, so the late reply comes far beyond that. UDP: one datagram within
// 1000 ms, of which only the first byte is checked.
const std::vector<FaultCase> kPlainFaults{
    {LinkKind::kSerial, "silence", Fault::Silence(), ZENDRIK_ERR_NO_START_BYTE},
    {LinkKind::kSerial, "corrupt CRC", Fault::CorruptCrc(), ZENDRIK_ERR_BAD_REPLY},
    {LinkKind::kSerial, "status 201", Fault::Status(kStatusNoTag), ZENDRIK_ERR_STATUS},
    {LinkKind::kSerial, "two stray bytes", Fault::StrayBytes(2), ZENDRIK_OK},
    {LinkKind::kSerial, "three stray bytes", Fault::StrayBytes(3), ZENDRIK_ERR_NO_START_BYTE},
    {LinkKind::kSerial, "cut after the header", Fault::CutShort(4), ZENDRIK_ERR_BYTE_TIMEOUT},
    {LinkKind::kSerial, "100 ms late", Fault::Late(100ms), ZENDRIK_OK},
    {LinkKind::kUsb, "silence", Fault::Silence(), ZENDRIK_ERR_BAD_REPLY},
    {LinkKind::kUsb, "corrupt CRC", Fault::CorruptCrc(), ZENDRIK_ERR_BAD_REPLY},
    {LinkKind::kUsb, "status 201", Fault::Status(kStatusNoTag), ZENDRIK_ERR_STATUS},
    {LinkKind::kUsb, "stray bytes", Fault::StrayBytes(2), ZENDRIK_ERR_BAD_REPLY},
    {LinkKind::kUsb, "cut after the header", Fault::CutShort(4), ZENDRIK_ERR_BAD_REPLY},
    {LinkKind::kUsb, "after the poll window", Fault::Late(kUsbLate), ZENDRIK_ERR_BAD_REPLY, kUsbLate},
    {LinkKind::kUdp, "silence", Fault::Silence(), ZENDRIK_ERR_UDP_NO_REPLY},
    {LinkKind::kUdp, "corrupt CRC (not checked)", Fault::CorruptCrc(), ZENDRIK_OK},
    {LinkKind::kUdp, "status 201", Fault::Status(kStatusNoTag), ZENDRIK_ERR_STATUS},
    {LinkKind::kUdp, "stray bytes", Fault::StrayBytes(2), ZENDRIK_ERR_UDP_NO_REPLY},
    {LinkKind::kUdp, "after the time-out", Fault::Late(1500ms), ZENDRIK_ERR_UDP_NO_REPLY},
};

// A fault that spoils the exchange itself, quickly, on each link.
Fault QuickTransportFault(LinkKind link) {
    return link == LinkKind::kUdp ? Fault::StrayBytes(2) : Fault::CorruptCrc();
}

class Faults : public OnEachLink {};

TEST_P(Faults, PlainCommandsReturnTheLinksCodeAndKeepTheirOutput) {
    const uint8_t mode = reader().settings().workMode;
    for (const FaultCase& c : kPlainFaults) {
        if (c.link != GetParam()) {
            continue;
        }
        SCOPED_TRACE(c.name);
        reader().FailCommand(kGetWorkMode, c.fault, 1);
        uint8_t got = kUntouched;
        EXPECT_EQ(UhfGetWorkMode(kAnyReader, &got), c.result);
        EXPECT_EQ(got, c.result == ZENDRIK_OK ? mode : kUntouched);
        std::this_thread::sleep_for(c.settle);
        // The next exchange is unharmed: nothing of the spoilt reply is taken for its answer.
        got = kUntouched;
        EXPECT_EQ(UhfGetWorkMode(kAnyReader, &got), ZENDRIK_OK);
        EXPECT_EQ(got, mode);
    }
}

TEST_P(Faults, IdentityCommandsReportEveryFailureAsAStatusFailure) {
    reader().FailCommand(kHandshake, QuickTransportFault(GetParam()), 1);
    uint8_t kind = kUntouched;
    uint8_t low = kUntouched;
    EXPECT_EQ(Handshake(kAnyReader, 1, &kind, &low), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(kind, kUntouched);

    // Two attempts: one spoilt reply is got over, two are not.
    std::vector<uint8_t> version(50, kUntouched);
    reader().FailCommand(kVersion, QuickTransportFault(GetParam()), 1);
    EXPECT_EQ(Get_Version(kAnyReader, version.data()), ZENDRIK_OK);
    EXPECT_EQ(version[0], reader().identity().version[0]);
    reader().FailCommand(kVersion, Fault::Status(kStatusNoTag), 2);
    std::vector<uint8_t> untouched(50, kUntouched);
    EXPECT_EQ(Get_Version(kAnyReader, untouched.data()), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(untouched, std::vector<uint8_t>(50, kUntouched));
}

TEST_P(Faults, RetriedCommandsGetOverOneBadReplyButNeverReturnALinkCode) {
    const uint8_t format = reader().settings().wiegandFormat;
    reader().FailCommand(kGetWiegandFormat, QuickTransportFault(GetParam()), 1);
    uint8_t got = kUntouched;
    EXPECT_EQ(UhfGetWeigand(kAnyReader, &got), ZENDRIK_OK);
    EXPECT_EQ(got, format);

    reader().FailCommand(kGetWiegandFormat, QuickTransportFault(GetParam()), 2);
    got = kUntouched;
    EXPECT_EQ(UhfGetWeigand(kAnyReader, &got), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(got, kUntouched);
}

INSTANTIATE_TEST_SUITE_P(Links, Faults, kEveryLink, LinkParamName);

}  // namespace
}  // namespace zendrik::e2e
