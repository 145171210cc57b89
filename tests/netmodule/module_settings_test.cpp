// Reading and writing a network module's settings record, with the module played on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "netmodule/module_settings.h"
#include "tests/link/udp_test_peer.h"
#include "tests/support/fake_clock.h"
#include "tests/support/untouched_byte.h"
#include "zendrik/zendrik.h"

namespace zendrik {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeClock;
using testing::FreeLoopbackPort;
using testing::LoopbackSocket;
using testing::ReceivedDatagram;
using testing::ScriptedPeer;

constexpr Milliseconds kShortWait{100};
using zendrik::testing::kUntouched;

constexpr std::array<uint8_t, kModuleIdSize> kModuleId{0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
// The request frames carry the CRC-16 over address, command, length and the 6 or 18 data bytes.
const std::vector<uint8_t> kReadRequest{0xAA, 0xFF, 0x10, 0x06, 0x00, 0x00, 0x1B,
                                        0x2C, 0x3D, 0x4E, 0x5F, 0xF0, 0xDF, 0x55};
const std::vector<uint8_t> kWriteRequest{0xAA, 0xFF, 0x11, 0x12, 0x00, 0x10, 0x11, 0x12, 0x13,
                                         0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C,
                                         0x1D, 0x1E, 0x1F, 0x20, 0x21, 0xD2, 0x3D, 0x55};

std::array<uint8_t, kModuleSettingsSize> WriteSettings() {
    std::array<uint8_t, kModuleSettingsSize> settings{};
    std::iota(settings.begin(), settings.end(), uint8_t{0x10});
    return settings;
}

// A start byte followed by arbitrary bytes, none of them a valid header, CRC or end byte.
std::vector<uint8_t> ArbitraryAnswer(std::size_t size) {
    std::vector<uint8_t> answer(size);
    std::iota(answer.begin(), answer.end(), uint8_t{0x80});
    answer.front() = 0xAA;
    return answer;
}

enum class Operation { kRead, kWrite };

struct SettingsCase {
    const char* name;
    Operation operation;
    std::optional<std::vector<uint8_t>> answer;
    int32_t expected;
    std::vector<uint8_t> reply;
};

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, std::size_t from, std::size_t to) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
            bytes.begin() + static_cast<std::ptrdiff_t>(to)};
}

TEST(ModuleSettings, ReturnsAnswerBytesFiveToTwentySixUnchanged) {
    const std::vector<uint8_t> full = ArbitraryAnswer(40);
    const std::vector<uint8_t> exact = ArbitraryAnswer(27);
    std::vector<uint8_t> shortReply = Slice(full, 5, 12);
    shortReply.resize(kModuleSettingsReplySize, 0x00);
    const std::vector<uint8_t> untouched(kModuleSettingsReplySize, kUntouched);
    const std::vector<SettingsCase> cases{
        {"read, long answer", Operation::kRead, full, ZENDRIK_OK, Slice(full, 5, 27)},
        {"write, long answer", Operation::kWrite, full, ZENDRIK_OK, Slice(full, 5, 27)},
        {"read, exactly 27 bytes", Operation::kRead, exact, ZENDRIK_OK, Slice(exact, 5, 27)},
        {"read, short answer reads as zeros", Operation::kRead, Slice(full, 0, 12), ZENDRIK_OK, shortReply},
        {"write, start byte alone", Operation::kWrite, std::vector<uint8_t>{0xAA}, ZENDRIK_OK,
         std::vector<uint8_t>(kModuleSettingsReplySize, 0x00)},
        {"read, no frame", Operation::kRead, std::vector<uint8_t>(30, 0x55), ZENDRIK_ERR_UDP_NO_REPLY,
         untouched},
        {"write, empty datagram", Operation::kWrite, std::vector<uint8_t>{}, ZENDRIK_ERR_UDP_NO_REPLY,
         untouched},
        {"read, silence", Operation::kRead, std::nullopt, ZENDRIK_ERR_UDP_NO_REPLY, untouched},
        {"write, silence", Operation::kWrite, std::nullopt, ZENDRIK_ERR_UDP_NO_REPLY, untouched},
    };
    const LoopbackSocket module("127.0.0.2");
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer listener([&](const ReceivedDatagram& request, std::size_t, const LoopbackSocket&) {
            if (c.answer) {
                module.SendTo(*c.answer, request.sender);
            }
        });
        const ModuleNetwork network{{{"127.0.0.1", FreeLoopbackPort()}, {"127.0.0.1", listener.port()}},
                                    kShortWait};
        FakeClock clock;
        SwitchingLink link(clock, nullptr, nullptr, MakePosixUdpTransport());
        std::array<uint8_t, kModuleSettingsReplySize> reply;
        reply.fill(kUntouched);

        const int32_t result = c.operation == Operation::kRead
                                   ? ReadModuleSettings(link, network, kModuleId, reply)
                                   : WriteModuleSettings(link, network, WriteSettings(), reply);

        EXPECT_EQ(result, c.expected);
        EXPECT_THAT(reply, ElementsAreArray(c.reply));
        listener.Stop();
        EXPECT_THAT(listener.requests(),
                    ElementsAre(c.operation == Operation::kRead ? kReadRequest : kWriteRequest));
        EXPECT_EQ(link.type(), LinkType::kUdp);
        EXPECT_EQ(link.udp_endpoints().reader.port, listener.port());
    }
}

}  // namespace
}  // namespace zendrik
