// The module search series on loopback: modules are played by sockets on 127.0.0.2 and 127.0.0.3
// that answer the probes the library sends to a listener on 127.0.0.1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/frame.h"
#include "netmodule/module_search.h"
#include "tests/link/udp_test_peer.h"
#include "tests/support/fake_clock.h"
#include "zendrik/zendrik.h"

namespace zendrik {
namespace {

using ::testing::Each;
using ::testing::ElementsAreArray;
using testing::FakeClock;
using testing::FreeLoopbackPort;
using testing::LoopbackSocket;
using testing::ReceivedDatagram;
using testing::ScriptedPeer;
using testing::ShortWaitTransport;
using testing::UncheckedReply;

constexpr Milliseconds kShortWait{100};
const std::vector<uint8_t> kSearchRequest{0xAA, 0xFF, 0x01, 0x00, 0x00, 0x61, 0xD4, 0x55};

using ModuleId = std::array<uint8_t, kModuleIdSize>;
constexpr ModuleId kModuleA{0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
constexpr ModuleId kModuleB{0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x60};
constexpr ModuleId kModuleC{0xC0, 0xFF, 0xEE, 0x00, 0x00, 0x01};
constexpr std::array<uint8_t, 4> kFirstModuleAddress{0x7F, 0x00, 0x00, 0x02};
constexpr std::array<uint8_t, 4> kSecondModuleAddress{0x7F, 0x00, 0x00, 0x03};

// Who answers a probe (0 for the first probe), and with what; nothing means silence.
struct Answer {
    int module;  // 0: the module on 127.0.0.2, 1: the one on 127.0.0.3
    std::vector<uint8_t> bytes;
};
using AnswerPlan = std::function<std::optional<Answer>(std::size_t probe)>;

std::vector<uint8_t> SearchAnswer(const ModuleId& id) {
    return UncheckedReply(kStatusOk, {id.begin(), id.end()});
}

// Answers with the listed modules in turn (first module on 127.0.0.2), then falls silent.
AnswerPlan Sequence(std::vector<std::pair<int, ModuleId>> answers) {
    return [answers](std::size_t probe) -> std::optional<Answer> {
        if (probe >= answers.size()) {
            return std::nullopt;
        }
        return Answer{answers[probe].first, SearchAnswer(answers[probe].second)};
    };
}

struct SearchCase {
    const char* name;
    AnswerPlan plan;
    int32_t expected;
    std::vector<ModuleRecord> records;
    std::size_t probes;
};

TEST(ModuleSearch, ProbesUntilSilenceOrFiftyAndListsEachModuleOnce) {
    std::vector<std::pair<int, ModuleId>> takingTurns;
    for (int turn = 0; turn < 6; ++turn) {
        takingTurns.emplace_back(turn % 2, turn % 2 == 0 ? kModuleA : kModuleB);
    }
    const std::vector<SearchCase> cases{
        {"one module answering every probe",
         [](std::size_t) {
             return Answer{0, SearchAnswer(kModuleA)};
         },
         ZENDRIK_OK,
         {{kModuleA, kFirstModuleAddress}},
         50},
        {"two modules taking turns",
         Sequence(takingTurns),
         ZENDRIK_OK,
         {{kModuleA, kFirstModuleAddress}, {kModuleB, kSecondModuleAddress}},
         7},
        {"order of first appearance",
         Sequence({{1, kModuleB}, {1, kModuleB}, {0, kModuleC}, {1, kModuleB}, {0, kModuleA}, {0, kModuleC}}),
         ZENDRIK_OK,
         {{kModuleB, kSecondModuleAddress}, {kModuleC, kFirstModuleAddress}, {kModuleA, kFirstModuleAddress}},
         7},
        {"same id from another address is the same module",
         Sequence({{0, kModuleA}, {1, kModuleA}}),
         ZENDRIK_OK,
         {{kModuleA, kFirstModuleAddress}},
         3},
        {"no module", Sequence({}), ZENDRIK_ERR_NOT_REACHED, {}, 1},
        {"an answer that is no frame ends the series",
         [](std::size_t probe) {
             return Answer{0, probe == 0 ? SearchAnswer(kModuleA) : std::vector<uint8_t>{0x55, 0xFF, 0xC8}};
         },
         ZENDRIK_OK,
         {{kModuleA, kFirstModuleAddress}},
         2},
        {"short answer leaves the missing id bytes zero",
         [](std::size_t probe) -> std::optional<Answer> {
             if (probe > 0) {
                 return std::nullopt;
             }
             return Answer{0, {0xAA, 0xFF, 0xC8, 0x06, 0x00, 0x11, 0x22}};
         },
         ZENDRIK_OK,
         {{{0x11, 0x22, 0x00, 0x00, 0x00, 0x00}, kFirstModuleAddress}},
         2},
    };
    const LoopbackSocket firstModule("127.0.0.2");
    const LoopbackSocket secondModule("127.0.0.3");
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer listener([&](const ReceivedDatagram& request, std::size_t probe, const LoopbackSocket&) {
            if (const std::optional<Answer> answer = c.plan(probe)) {
                (answer->module == 0 ? firstModule : secondModule).SendTo(answer->bytes, request.sender);
            }
        });
        const ModuleNetwork network{{{"127.0.0.1", FreeLoopbackPort()}, {"127.0.0.1", listener.port()}},
                                    kShortWait};
        FakeClock clock;
        auto owned = std::make_unique<ShortWaitTransport>(kShortWait);
        ShortWaitTransport& transport = *owned;
        SwitchingLink link(clock, nullptr, nullptr, std::move(owned));
        std::vector<ModuleRecord> found{{kModuleC, {}}};  // replaced, not appended to

        EXPECT_EQ(SearchModules(link, network, found), c.expected);

        listener.Stop();
        EXPECT_EQ(found, c.records);
        EXPECT_EQ(listener.requests().size(), c.probes);
        EXPECT_THAT(listener.requests(), Each(ElementsAreArray(kSearchRequest)));
        EXPECT_THAT(listener.senderPorts(), Each(network.endpoints.host.port));
        for (const UdpTransactionOptions& asked : transport.asked()) {
            EXPECT_TRUE(asked.broadcast);
            EXPECT_FALSE(asked.onlyFromReader);  // answers come from the modules, not the address asked
            EXPECT_EQ(asked.maxReceive, 256u);
            EXPECT_EQ(asked.receiveTimeout, kShortWait);
        }
        EXPECT_EQ(link.type(), LinkType::kUdp);
        EXPECT_EQ(link.udp_endpoints().host.ip, "127.0.0.1");
        EXPECT_EQ(link.udp_endpoints().reader.port, listener.port());
    }
}

TEST(ModuleSearch, ExportedFunctionsUseTheFixedAddresses) {
    const ModuleNetwork fixed;
    EXPECT_EQ(fixed.endpoints.host.ip, "192.168.1.54");
    EXPECT_EQ(fixed.endpoints.host.port, 2000);
    EXPECT_EQ(fixed.endpoints.reader.ip, "255.255.255.255");
    EXPECT_EQ(fixed.endpoints.reader.port, 5000);
    EXPECT_EQ(fixed.receiveTimeout, Milliseconds{1000});
}

}  // namespace
}  // namespace zendrik
