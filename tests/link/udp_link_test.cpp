// The UDP link against a reader played on loopback: Net_Connect's probe, the UDP exchange's
// reply handling, and the POSIX transport underneath.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "exports/global_link.h"
#include "link/frame.h"
#include "link/net_connect.h"
#include "link/switching_link.h"
#include "tests/link/udp_test_peer.h"
#include "tests/support/fake_clock.h"
#include "zendrik/zendrik.h"

namespace zendrik {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeClock;
using testing::FreeLoopbackPort;
using testing::LoopbackSocket;
using testing::ReceivedDatagram;
using testing::ScriptedPeer;
using testing::ShortWaitTransport;
using testing::UncheckedReply;

constexpr std::chrono::milliseconds kShortWait{100};
constexpr uint8_t kUntouched = 0xEE;

const std::vector<uint8_t> kProbe{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};

// A peer that answers every request with the same datagram, or never when there is none.
ScriptedPeer::Script AnswerAlways(std::optional<std::vector<uint8_t>> answer) {
    return [answer](const ReceivedDatagram& request, std::size_t, const LoopbackSocket& listener) {
        if (answer) {
            listener.SendTo(*answer, request.sender);
        }
    };
}

struct UdpLinkHarness {
    UdpLinkHarness() : UdpLinkHarness(std::make_unique<ShortWaitTransport>(kShortWait)) {}
    explicit UdpLinkHarness(std::unique_ptr<ShortWaitTransport> owned)
        : transport(owned.get()), link(clock, nullptr, nullptr, std::move(owned)) {}

    UdpEndpoints Loopback(uint16_t readerPort) const {
        return {{"127.0.0.1", hostPort}, {"127.0.0.1", readerPort}};
    }

    FakeClock clock;
    ShortWaitTransport* transport;  // owned by the link
    uint16_t hostPort = FreeLoopbackPort();
    SwitchingLink link;
};

// ---- Net_Connect --------------------------------------------------------------------------------

struct ProbeAnswerCase {
    const char* name;
    std::optional<std::vector<uint8_t>> answer;
    int32_t expected;
    std::size_t probes;
};

TEST(NetConnect, AnyAnswerStartingAFrameConnectsAndOthersGetASecondAttempt) {
    std::vector<uint8_t> longAnswer(40, 0x01);
    longAnswer.front() = kStartByte;
    const std::vector<ProbeAnswerCase> cases{
        {"valid handshake reply", BuildStandardFrame(0xFF, kStatusOk, std::vector<uint8_t>{0x01, 0x00}), 0,
         1},
        {"bad CRC", UncheckedReply(kStatusOk, {0x01, 0x00}), 0, 1},
        {"another status", UncheckedReply(0x00, {}), 0, 1},
        {"start byte alone", std::vector<uint8_t>{kStartByte}, 0, 1},
        {"longer than the 16 bytes read", longAnswer, 0, 1},
        {"wrong start byte", std::vector<uint8_t>{0x55, 0xFF, 0xC8, 0x00, 0x00}, ZENDRIK_ERR_NOT_REACHED, 2},
        {"empty datagram", std::vector<uint8_t>{}, ZENDRIK_ERR_NOT_REACHED, 2},
        {"silence", std::nullopt, ZENDRIK_ERR_NOT_REACHED, 2},
    };
    for (const ProbeAnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        UdpLinkHarness harness;
        ScriptedPeer reader(AnswerAlways(c.answer));
        const UdpEndpoints endpoints = harness.Loopback(reader.port());

        EXPECT_EQ(NetConnect(harness.link, endpoints), c.expected);

        reader.Stop();
        EXPECT_EQ(reader.requests().size(), c.probes);
        EXPECT_THAT(reader.requests(), Each(ElementsAreArray(kProbe)));
        EXPECT_THAT(reader.senderPorts(), Each(harness.hostPort));
        // Whatever the outcome, the link is on UDP with the new endpoints.
        EXPECT_EQ(harness.link.type(), LinkType::kUdp);
        EXPECT_EQ(harness.link.udp_endpoints().reader.port, reader.port());
        EXPECT_EQ(harness.link.udp_endpoints().host.port, harness.hostPort);
        for (const UdpTransactionOptions& asked : harness.transport->asked()) {
            EXPECT_FALSE(asked.broadcast);
            EXPECT_EQ(asked.maxReceive, 16u);
            EXPECT_EQ(asked.receiveTimeout, Milliseconds{1000});
        }
    }
}

TEST(NetConnect, CommandAfterFailedConnectGoesToTheStoredReader) {
    UdpLinkHarness harness;
    const std::vector<uint8_t> answer = UncheckedReply(kStatusOk, {0x02, 0x07});
    ScriptedPeer reader(
        [&](const ReceivedDatagram& request, std::size_t index, const LoopbackSocket& listener) {
            if (index >= 2) {  // silent for both probes
                listener.SendTo(answer, request.sender);
            }
        });
    harness.link.set_type(LinkType::kSerial);

    ASSERT_EQ(NetConnect(harness.link, harness.Loopback(reader.port())), ZENDRIK_ERR_NOT_REACHED);
    const std::vector<uint8_t> command = BuildStandardFrame(0xFF, command::kGetWorkMode, {});
    std::vector<uint8_t> reply(128, 0);
    EXPECT_EQ(harness.link.Exchange(ExchangeVariant::Standard(), command, reply), ZENDRIK_OK);

    reader.Stop();
    ASSERT_EQ(reader.requests().size(), 3u);
    EXPECT_EQ(reader.requests()[2], command);
    EXPECT_TRUE(std::equal(answer.begin(), answer.end(), reply.begin()));
}

TEST(NetConnect, ArgumentsAreStoredAsGivenWithPortsModulo65536) {
    struct Case {
        const char* ip;
        int32_t port;
        std::string storedIp;
        uint16_t storedPort;
    };
    const std::vector<Case> cases{
        {"192.168.1.250", 2000, "192.168.1.250", 2000},
        {"10.0.0.1", 65536 + 2001, "10.0.0.1", 2001},
        {"not an address", -1, "not an address", 65535},
        {nullptr, 70000, "", 4464},
    };
    for (const Case& c : cases) {
        const UdpEndpoint endpoint = EndpointFromArguments(c.ip, c.port);
        EXPECT_EQ(endpoint.ip, c.storedIp);
        EXPECT_EQ(endpoint.port, c.storedPort);
    }
}

// The exported function on the module-wide link, with a reader on loopback.
TEST(NetConnect, ExportedFunctionStoresTheEndpointsInTheModuleWideLink) {
    ScriptedPeer reader(AnswerAlways(UncheckedReply(kStatusOk, {0x01, 0x00})));
    const uint16_t hostPort = FreeLoopbackPort();

    EXPECT_EQ(Net_Connect("127.0.0.1", hostPort + 65536, "127.0.0.1", reader.port() + 65536), ZENDRIK_OK);

    reader.Stop();
    EXPECT_THAT(reader.requests(), ElementsAre(kProbe));
    EXPECT_EQ(GlobalLink().type(), LinkType::kUdp);
    EXPECT_EQ(GlobalLink().udp_endpoints().host.port, hostPort);
    EXPECT_EQ(GlobalLink().udp_endpoints().reader.port, reader.port());
}

// ---- UDP exchange -------------------------------------------------------------------------------

struct ReplyCase {
    const char* name;
    std::optional<std::vector<uint8_t>> datagram;
    std::size_t replyBuffer;
    int32_t expected;
    std::vector<uint8_t> expectedStart;  // the reply buffer's first bytes afterwards
};

std::vector<uint8_t> Concat(std::vector<uint8_t> head, std::size_t fillCount, uint8_t fill) {
    head.insert(head.end(), fillCount, fill);
    return head;
}

TEST(UdpExchange, CopiesTheAnnouncedFrameFromTheFirstDatagram) {
    std::vector<uint8_t> badEnd = UncheckedReply(kStatusOk, {0x01, 0x02});
    badEnd.back() = 0x00;
    const std::vector<uint8_t> withTrailer = Concat(UncheckedReply(kStatusOk, {0x07}), 5, 0x33);
    // 300 bytes announcing 250 data bytes: the datagram is cut at 256, so the last two of the
    // announced 258 bytes are not covered.
    std::vector<uint8_t> oversized(300, 0x5A);
    oversized[0] = kStartByte;
    oversized[kOffsetLengthLow] = 250;
    std::vector<uint8_t> oversizedExpected(259, 0x00);
    std::copy_n(oversized.begin(), 256, oversizedExpected.begin());
    oversizedExpected.back() = kUntouched;
    std::vector<uint8_t> tooLong = UncheckedReply(kStatusOk, std::vector<uint8_t>(200, 0x01));

    const std::vector<ReplyCase> cases{
        {"unchecked CRC and end byte", badEnd, 128, ZENDRIK_OK, Concat(badEnd, 1, kUntouched)},
        {"no data", UncheckedReply(kStatusOk, {}), 128, ZENDRIK_OK,
         Concat(UncheckedReply(kStatusOk, {}), 1, kUntouched)},
        {"bytes after the frame are not copied", withTrailer, 128, ZENDRIK_OK,
         Concat(UncheckedReply(kStatusOk, {0x07}), 1, kUntouched)},
        {"short datagram reads as zeros", std::vector<uint8_t>{0xAA, 0xFF, 0xC8, 0x05}, 128, ZENDRIK_OK,
         Concat(Concat({0xAA, 0xFF, 0xC8, 0x05}, 9, 0x00), 1, kUntouched)},
        {"start byte alone", std::vector<uint8_t>{0xAA}, 128, ZENDRIK_OK,
         Concat(Concat({0xAA}, 7, 0x00), 1, kUntouched)},
        {"cut at 256 bytes", oversized, 300, ZENDRIK_OK, oversizedExpected},
        {"longer than the caller's buffer", tooLong, 128, ZENDRIK_ERR_BAD_REPLY,
         std::vector<uint8_t>(128, kUntouched)},
        {"wrong start byte", std::vector<uint8_t>{0x55, 0xFF, 0xC8, 0x00, 0x00, 0, 0, 0x55}, 128,
         ZENDRIK_ERR_UDP_NO_REPLY, std::vector<uint8_t>(128, kUntouched)},
        {"empty datagram", std::vector<uint8_t>{}, 128, ZENDRIK_ERR_UDP_NO_REPLY,
         std::vector<uint8_t>(128, kUntouched)},
        {"silence", std::nullopt, 128, ZENDRIK_ERR_UDP_NO_REPLY, std::vector<uint8_t>(128, kUntouched)},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        UdpLinkHarness harness;
        ScriptedPeer reader(AnswerAlways(c.datagram));
        harness.link.udp_endpoints() = harness.Loopback(reader.port());
        harness.link.set_type(LinkType::kUdp);
        const std::vector<uint8_t> request = BuildStandardFrame(0x01, command::kGetBuzzer, {});
        std::vector<uint8_t> reply(c.replyBuffer, kUntouched);

        EXPECT_EQ(harness.link.Exchange(ExchangeVariant::Standard(), request, reply), c.expected);

        reader.Stop();
        EXPECT_THAT(reader.requests(), ElementsAre(request));
        EXPECT_THAT(reader.senderPorts(), ElementsAre(harness.hostPort));
        ASSERT_GE(reply.size(), c.expectedStart.size());
        EXPECT_TRUE(std::equal(c.expectedStart.begin(), c.expectedStart.end(), reply.begin()));
        ASSERT_EQ(harness.transport->asked().size(), 1u);
        EXPECT_FALSE(harness.transport->asked()[0].broadcast);
        EXPECT_EQ(harness.transport->asked()[0].maxReceive, 256u);
        EXPECT_EQ(harness.transport->asked()[0].receiveTimeout, Milliseconds{1000});
    }
}

// Only the reader's address may answer: a datagram from anywhere else is dropped and the wait goes
// on, while the reader may answer from any of its ports.
TEST(UdpLink, DatagramsFromOtherAddressesAreNotTheReadersReply) {
    struct Case {
        const char* name;
        bool connect;        // Net_Connect's probe, or a command's exchange
        bool readerAnswers;  // after the stranger, from another port of the reader's address
        int32_t expected;
    };
    const std::vector<Case> cases{
        {"exchange, stranger then reader", false, true, ZENDRIK_OK},
        {"exchange, stranger only", false, false, ZENDRIK_ERR_UDP_NO_REPLY},
        {"connect, stranger then reader", true, true, ZENDRIK_OK},
        {"connect, stranger only", true, false, ZENDRIK_ERR_NOT_REACHED},
    };
    const std::vector<uint8_t> strangerAnswer = UncheckedReply(kStatusOk, {0x66});
    const std::vector<uint8_t> readerAnswer = UncheckedReply(kStatusOk, {0x42});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UdpLinkHarness harness;
        const LoopbackSocket stranger("127.0.0.2");
        const LoopbackSocket readerOtherPort("127.0.0.1");
        ScriptedPeer reader([&](const ReceivedDatagram& request, std::size_t, const LoopbackSocket&) {
            stranger.SendTo(strangerAnswer, request.sender);
            if (c.readerAnswers) {
                readerOtherPort.SendTo(readerAnswer, request.sender);
            }
        });
        std::vector<uint8_t> reply(128, kUntouched);
        if (c.connect) {
            EXPECT_EQ(NetConnect(harness.link, harness.Loopback(reader.port())), c.expected);
        } else {
            harness.link.udp_endpoints() = harness.Loopback(reader.port());
            harness.link.set_type(LinkType::kUdp);
            EXPECT_EQ(harness.link.Exchange(ExchangeVariant::Standard(), kProbe, reply), c.expected);
            const std::vector<uint8_t> expected =
                c.readerAnswers ? Concat(readerAnswer, 1, kUntouched) : std::vector<uint8_t>(128, kUntouched);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply.begin()));
        }
        for (const UdpTransactionOptions& asked : harness.transport->asked()) {
            EXPECT_TRUE(asked.onlyFromReader);
        }
    }
}

// Replies are not matched to requests: each exchange binds the host port only while it waits,
// so a reply that arrives between two exchanges is lost, and one that arrives during the next
// exchange's wait is taken as that exchange's reply.
TEST(UdpExchange, LateRepliesAreLostBetweenExchangesAndTakenDuringTheNext) {
    UdpLinkHarness harness;
    std::promise<void> firstExchangeOver;
    std::promise<void> lostReplySent;
    const std::vector<uint8_t> lostReply = UncheckedReply(kStatusOk, {0x01});
    const std::vector<uint8_t> lateReply = UncheckedReply(kStatusOk, {0x02});
    std::optional<sockaddr_in> secondSender;
    ScriptedPeer reader(
        [&](const ReceivedDatagram& request, std::size_t index, const LoopbackSocket& listener) {
            if (index == 0) {  // answers only once the exchange has given up and closed its socket
                firstExchangeOver.get_future().wait();
                listener.SendTo(lostReply, request.sender);
                lostReplySent.set_value();
            } else if (index == 1) {
                secondSender = request.sender;  // answered during the next exchange
            } else if (index == 2) {
                listener.SendTo(lateReply, *secondSender);
            }
        });
    harness.link.udp_endpoints() = harness.Loopback(reader.port());
    harness.link.set_type(LinkType::kUdp);
    std::vector<uint8_t> reply(128, 0);
    const auto exchange = [&](uint8_t command) {
        return harness.link.Exchange(ExchangeVariant::Standard(), BuildStandardFrame(0xFF, command, {}),
                                     reply);
    };

    EXPECT_EQ(exchange(command::kGetBuzzer), ZENDRIK_ERR_UDP_NO_REPLY);
    firstExchangeOver.set_value();
    lostReplySent.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds{20});  // let loopback drop it
    EXPECT_EQ(exchange(command::kGetWorkMode), ZENDRIK_ERR_UDP_NO_REPLY);
    EXPECT_EQ(exchange(command::kGetOutPower), ZENDRIK_OK);
    EXPECT_TRUE(std::equal(lateReply.begin(), lateReply.end(), reply.begin()));
}

// The one case that waits the real receive time-out: the POSIX transport as the library uses it.
TEST(UdpExchange, SilentReaderGivesNoReplyAfterTheFullSecond) {
    FakeClock clock;
    SwitchingLink link(clock, nullptr, nullptr, MakePosixUdpTransport());
    ScriptedPeer reader(AnswerAlways(std::nullopt));
    link.udp_endpoints() = UdpEndpoints{{"127.0.0.1", FreeLoopbackPort()}, {"127.0.0.1", reader.port()}};
    link.set_type(LinkType::kUdp);
    std::vector<uint8_t> reply(128, kUntouched);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Exchange(ExchangeVariant::Standard(), kProbe, reply), ZENDRIK_ERR_UDP_NO_REPLY);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds{1000});
    EXPECT_THAT(reply, Each(kUntouched));
}

// ---- POSIX transport ----------------------------------------------------------------------------

TEST(PosixUdpTransport, SendsFromTheHostEndpointAndReportsTheSender) {
    const LoopbackSocket module("127.0.0.3");
    ScriptedPeer reader([&](const ReceivedDatagram& request, std::size_t, const LoopbackSocket&) {
        module.SendTo({0xAA, 0x01, 0x02}, request.sender);
    });
    const uint16_t hostPort = FreeLoopbackPort();
    const std::unique_ptr<UdpTransport> transport = MakePosixUdpTransport();
    UdpTransactionOptions options;
    options.receiveTimeout = kShortWait;

    const std::optional<Datagram> answer =
        transport->Transact({{"127.0.0.1", hostPort}, {"127.0.0.1", reader.port()}}, kProbe, options);

    ASSERT_TRUE(answer);
    EXPECT_THAT(answer->bytes, ElementsAre(0xAA, 0x01, 0x02));
    EXPECT_EQ(answer->senderIpv4, 0x7F000003u);
    reader.Stop();
    EXPECT_THAT(reader.senderPorts(), ElementsAre(hostPort));
}

TEST(PosixUdpTransport, CutsLongDatagramsAtTheLimit) {
    std::vector<uint8_t> long_(1000);
    for (std::size_t i = 0; i < long_.size(); ++i) {
        long_[i] = static_cast<uint8_t>(i);
    }
    ScriptedPeer reader(AnswerAlways(long_));
    const std::unique_ptr<UdpTransport> transport = MakePosixUdpTransport();
    for (const std::size_t limit : {std::size_t{16}, std::size_t{256}}) {
        UdpTransactionOptions options;
        options.maxReceive = limit;
        options.receiveTimeout = kShortWait;
        const std::optional<Datagram> answer =
            transport->Transact({{"127.0.0.1", 0}, {"127.0.0.1", reader.port()}}, kProbe, options);
        ASSERT_TRUE(answer);
        EXPECT_THAT(answer->bytes,
                    ElementsAreArray(long_.begin(), long_.begin() + static_cast<std::ptrdiff_t>(limit)));
    }
}

// A host address that is not the machine's own cannot be bound; the request still goes out from
// a port the system picks, and the reply to that port is received.
TEST(PosixUdpTransport, UnbindableHostAddressIsNotReported) {
    ScriptedPeer reader(AnswerAlways(std::vector<uint8_t>{0xAA}));
    UdpTransactionOptions options;
    options.receiveTimeout = kShortWait;
    const std::optional<Datagram> answer = MakePosixUdpTransport()->Transact(
        {{"192.0.2.1", 2001}, {"127.0.0.1", reader.port()}}, kProbe, options);
    ASSERT_TRUE(answer);
    EXPECT_THAT(answer->bytes, ElementsAre(0xAA));
}

TEST(PosixUdpTransport, SilenceEndsAfterTheReceiveTimeoutEvenWhenItIsZero) {
    ScriptedPeer reader(AnswerAlways(std::nullopt));
    const std::unique_ptr<UdpTransport> transport = MakePosixUdpTransport();
    for (const Milliseconds wait : {kShortWait, Milliseconds{0}}) {
        UdpTransactionOptions options;
        options.receiveTimeout = wait;
        EXPECT_FALSE(transport->Transact({{"127.0.0.1", 0}, {"127.0.0.1", reader.port()}}, kProbe, options));
    }
}

// Signals cut the kernel's receive wait short; the transport waits on for what is left of the
// time-out, not for a whole new one each time, so a program that takes signals often (a profiler's
// timer, a child's exit) still sees silence end on time.
TEST(PosixUdpTransport, SignalsDoNotStretchTheReceiveTimeout) {
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    sigemptyset(&quiet.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &quiet, &previous), 0);
    constexpr Milliseconds kTimeout{300};
    constexpr Milliseconds kSignalEvery{20};
    // A receive wait that started over at every signal would end only after the signals stop.
    constexpr Milliseconds kSignalFor{5000};
    ScriptedPeer reader(AnswerAlways(std::nullopt));
    UdpTransactionOptions options;
    options.receiveTimeout = kTimeout;
    const pthread_t receiver = ::pthread_self();
    std::atomic<bool> done{false};
    std::atomic<bool> signalsStopped{false};
    std::thread signaller([&] {
        const auto until = std::chrono::steady_clock::now() + kSignalFor;
        while (!done && std::chrono::steady_clock::now() < until) {
            ::pthread_kill(receiver, SIGUSR1);
            std::this_thread::sleep_for(kSignalEvery);
        }
        signalsStopped = !done;
    });
    const auto start = std::chrono::steady_clock::now();
    const std::optional<Datagram> answer =
        MakePosixUdpTransport()->Transact({{"127.0.0.1", 0}, {"127.0.0.1", reader.port()}}, kProbe, options);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const bool endedWhileSignalled = !signalsStopped;
    done = true;
    signaller.join();
    ::sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_FALSE(answer);
    EXPECT_GE(elapsed, kTimeout);
    EXPECT_TRUE(endedWhileSignalled) << "the wait started over at every signal";
}

}  // namespace
}  // namespace zendrik
