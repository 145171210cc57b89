// A reply that comes after its exchange gave up must not be taken for the next request's: under the
// strict reply rules the next exchange waits until the link has been quiet for the failed
// exchange's answer time, on every transport, in simulated time.
#include <gtest/gtest.h>

#include <deque>

#include "link/frame.h"
#include "link/quiet_wait.h"
#include "link/reply_rules.h"
#include "link/switching_link.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/support/timed_serial.h"
#include "tests/support/timed_udp.h"
#include "zendrik/zendrik.h"

namespace zendrik::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr std::size_t kReplyBuffer = 300;

// The reader's reply carries the command it answers, so a test can tell whose reply it got.
std::optional<Bytes> AnswerWithCommand(std::span<const uint8_t> request) {
    return BuildStandardFrame(0, kStatusOk, Bytes{request[kOffsetCommand]});
}

Bytes Request(uint8_t code) {
    return BuildStandardFrame(kBroadcastAddress, code, {});
}

enum class Transport { kUsbPolled, kUsbUntilArrived, kSerial, kUdpFixedPort, kUdpAnyPort };

// One link of each transport over simulated time, its reader answering with AnswerWithCommand.
class TimedLink {
  public:
    explicit TimedLink(Transport transport) {
        hid.responder = AnswerWithCommand;
        serial.responder = [](const Bytes& request) { return AnswerWithCommand(request); };
        auto udpTransport = std::make_unique<TimedUdp>(clock);
        udp = udpTransport.get();
        udp->responder = serial.responder;
        link = std::make_unique<SwitchingLink>(clock, hid.MakeBackend(), serial.MakeOpener(),
                                               std::move(udpTransport));
        switch (transport) {
            case Transport::kUsbUntilArrived:
                link->usb().set_reply_wait(ReplyWait::kUntilArrived);
                break;
            case Transport::kUsbPolled:
                break;
            case Transport::kSerial:
                link->OpenSerialDevice("/dev/ttyTEST", 9600);
                break;
            case Transport::kUdpFixedPort:
            case Transport::kUdpAnyPort:
                link->set_type(LinkType::kUdp);
                link->udp_endpoints() = {
                    {"127.0.0.1", transport == Transport::kUdpAnyPort ? uint16_t{0} : uint16_t{2001}},
                    {"127.0.0.1", 2000}};
                break;
        }
    }

    void SetReplyDelay(Milliseconds delay) {
        hid.replyDelay = delay;
        serial.replyDelay = delay;
        udp->replyDelay = delay;
    }

    // One exchange of `code`: its result, the command its reply answers, and how long it took.
    struct Outcome {
        int32_t result;
        uint8_t answered;
        Milliseconds took;
    };
    Outcome Exchange(uint8_t code, const ExchangeVariant& variant = ExchangeVariant::Standard()) {
        Bytes reply(kReplyBuffer, 0);
        const Milliseconds before = clock.elapsed();
        const int32_t result = link->Exchange(variant, Request(code), reply);
        return {result, reply[kOffsetData], clock.elapsed() - before};
    }

    FakeClock clock;
    FakeHid hid{clock};
    TimedSerialLine serial{clock};
    TimedUdp* udp = nullptr;
    std::unique_ptr<SwitchingLink> link;
};

TEST(LateReplies, AreDroppedBeforeTheNextRequestOnEveryTransport) {
    constexpr uint8_t kFirst = command::kGetWorkMode;
    constexpr uint8_t kSecond = command::kGetBuzzer;
    constexpr uint8_t kThird = command::kGetTriggerTime;
    struct Case {
        const char* name;
        Transport transport;
        Milliseconds lateBy;   // the first request's reply, after its exchange gave up
        int32_t timedOut;      // the first exchange's result
        uint8_t flatAnswered;  // whose reply the second exchange takes under the flat rules
        Milliseconds quietWait;
        Milliseconds ownExchange;  // the second exchange's time when its reply comes at once
    };
    // Answer times: USB 10 + 11 x 2 ms, serial 3 x 400 ms, UDP 1000 ms. The quiet wait lasts until
    // the late reply arrives, then one answer time more.
    const std::vector<Case> cases{
        {"usb, polled", Transport::kUsbPolled, 50ms, ZENDRIK_ERR_BAD_REPLY, kFirst, 18ms + 32ms, 10ms},
        {"usb, until arrived", Transport::kUsbUntilArrived, 50ms, ZENDRIK_ERR_BAD_REPLY, kFirst, 18ms + 32ms,
         0ms},
        {"serial", Transport::kSerial, 1300ms, ZENDRIK_ERR_NO_START_BYTE, kFirst, 100ms + 1200ms, 0ms},
        {"udp, fixed host port", Transport::kUdpFixedPort, 1200ms, ZENDRIK_ERR_UDP_NO_REPLY, kFirst,
         200ms + 1000ms, 0ms},
        // A reply goes back to the port that asked, which the next socket does not have: no wait.
        {"udp, any host port", Transport::kUdpAnyPort, 1200ms, ZENDRIK_ERR_UDP_NO_REPLY, kSecond, 0ms, 200ms},
    };
    for (const Case& c : cases) {
        for (const bool strict : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (strict ? ", strict" : ", flat"));
            TimedLink timed(c.transport);
            if (strict) {
                // The quiet wait alone: a session's serial patience has a test of its own.
                ReplyRules rules = ReplyRules::Strict();
                rules.serialPatience = 0ms;
                timed.link->set_reply_rules(rules);
            }
            timed.SetReplyDelay(c.lateBy);
            EXPECT_EQ(timed.Exchange(kFirst).result, c.timedOut);
            timed.SetReplyDelay(0ms);
            const TimedLink::Outcome second = timed.Exchange(kSecond);
            EXPECT_EQ(second.result, ZENDRIK_OK);
            if (!strict) {
                EXPECT_EQ(second.answered, c.flatAnswered);
                continue;
            }
            EXPECT_EQ(second.answered, kSecond);
            EXPECT_EQ(second.took, c.quietWait + c.ownExchange);
            // After an exchange whose reply was taken there is nothing to wait for.
            const TimedLink::Outcome third = timed.Exchange(kThird);
            EXPECT_EQ(third.answered, kThird);
            EXPECT_EQ(third.took, c.transport == Transport::kUdpAnyPort ? 0ms : c.ownExchange);
        }
    }
}

TEST(LateReplies, AReplyTheCommandDidNotTakeMakesTheNextRequestWaitToo) {
    TimedLink timed(Transport::kUsbUntilArrived);
    timed.link->set_reply_rules(ReplyRules::Strict());
    EXPECT_EQ(timed.Exchange(command::kGetWorkMode).result, ZENDRIK_OK);
    timed.link->SuspectLateReply();
    EXPECT_EQ(timed.Exchange(command::kGetBuzzer).took, 32ms);
    // Under the flat rules a suspicion changes nothing.
    timed.link->set_reply_rules(ReplyRules{});
    timed.link->SuspectLateReply();
    EXPECT_EQ(timed.Exchange(command::kGetBuzzer).took, 0ms);
}

TEST(PatientExchanges, WaitForASlowReplyWhereTheLinkWaitsUntilItArrives) {
    const ExchangeVariant patient = ExchangeVariant::Standard().WithPatience(1500ms);
    struct Case {
        const char* name;
        Transport transport;
        int32_t impatient;  // the result without patience, for a reply 1100 ms late
        bool waits;         // false: the flat exports' polled window stays as it is
    };
    const std::vector<Case> cases{
        {"usb, until arrived", Transport::kUsbUntilArrived, ZENDRIK_ERR_BAD_REPLY, true},
        {"serial", Transport::kSerial, ZENDRIK_OK, true},  // 3 x 400 ms for the start byte already
        {"udp", Transport::kUdpFixedPort, ZENDRIK_ERR_UDP_NO_REPLY, true},
        {"usb, polled", Transport::kUsbPolled, ZENDRIK_ERR_BAD_REPLY, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimedLink impatient(c.transport);
        impatient.SetReplyDelay(1100ms);
        EXPECT_EQ(impatient.Exchange(command::kGetWorkMode).result, c.impatient);
        TimedLink timed(c.transport);
        timed.SetReplyDelay(1100ms);
        const TimedLink::Outcome slow = timed.Exchange(command::kGetWorkMode, patient);
        EXPECT_EQ(slow.result, c.waits ? ZENDRIK_OK : ZENDRIK_ERR_BAD_REPLY);
        if (c.waits) {
            EXPECT_EQ(slow.took, 1100ms) << "the wait ends when the reply is there";
        }
        timed.SetReplyDelay(3000ms);
        EXPECT_NE(timed.Exchange(command::kGetBuzzer, patient).result, ZENDRIK_OK) << "patience has its end";
    }
}

// A session's serial exchanges wait kSerialSessionPatience before the line's 400 ms reads for the
// start byte count (the fourth read ends past it, then three count: 2400 ms), so a reply a loaded
// machine held back is taken by its own request; one later still is dropped by a quiet wait of the
// patience and the line's own 3 x 400 ms, never taken by the next request as the flat rules take it.
TEST(SerialSessionPatience, WaitsForAHeldBackReplyAndQuietsForTheWholeWaitAfterOneItMissed) {
    constexpr Milliseconds kWholeWait = 2400ms;
    constexpr Milliseconds kQuiet = kSerialSessionPatience + 1200ms;
    struct Case {
        const char* name;
        bool session;
        Milliseconds lateBy;
        int32_t first;  // the first exchange's result
        Milliseconds firstTook;
        uint8_t nextAnswered;  // whose reply the next exchange takes (its own comes at once)
        std::optional<Milliseconds> nextTook;
    };
    const std::vector<Case> cases{
        {"session, held back 2 s", true, 2000ms, ZENDRIK_OK, 2000ms, command::kGetBuzzer, 0ms},
        {"session, later than the whole wait", true, kWholeWait + 100ms, ZENDRIK_ERR_NO_START_BYTE,
         kWholeWait, command::kGetBuzzer, 100ms + kQuiet},
        {"flat, held back 2 s", false, 2000ms, ZENDRIK_ERR_NO_START_BYTE, 1200ms, command::kGetWorkMode, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimedLink timed(Transport::kSerial);
        if (c.session) {
            timed.link->set_reply_rules(ReplyRules::Strict());
        }
        timed.SetReplyDelay(c.lateBy);
        const TimedLink::Outcome first = timed.Exchange(command::kGetWorkMode);
        EXPECT_EQ(first.result, c.first);
        EXPECT_EQ(first.took, c.firstTook);
        timed.SetReplyDelay(0ms);
        const TimedLink::Outcome next = timed.Exchange(command::kGetBuzzer);
        EXPECT_EQ(next.result, ZENDRIK_OK);
        EXPECT_EQ(next.answered, c.nextAnswered);
        if (c.nextTook) {
            EXPECT_EQ(next.took, *c.nextTook);
        }
    }
}

TEST(QuietWait, LastsOnePeriodAfterTheLastArrivalAndAtMostThreePeriods) {
    struct Case {
        const char* name;
        Milliseconds period;
        std::vector<Milliseconds> arrivals;  // when something arrives, from the start of the wait
        Milliseconds waited;
        int dropped;
    };
    std::vector<Milliseconds> chatter;
    for (Milliseconds at = 10ms; at < 1000ms; at += 20ms) {
        chatter.push_back(at);
    }
    const std::vector<Case> cases{
        {"silent", 32ms, {}, 32ms, 0},
        {"one late reply", 32ms, {18ms}, 50ms, 1},
        {"two in a row", 100ms, {40ms, 90ms}, 190ms, 2},
        {"one just after a period", 100ms, {101ms}, 100ms, 0},
        {"chattering", 100ms, chatter, 300ms, 15},
        {"no period", 0ms, {0ms}, 0ms, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        std::deque<Milliseconds> arrivals(c.arrivals.begin(), c.arrivals.end());
        const int dropped = AwaitQuiet(clock, c.period, [&](Milliseconds timeout) {
            const Milliseconds deadline = clock.elapsed() + timeout;
            if (arrivals.empty() || arrivals.front() > deadline) {
                clock.advance(deadline - clock.elapsed());
                return false;
            }
            clock.advance(arrivals.front() - clock.elapsed());
            arrivals.pop_front();
            return true;
        });
        EXPECT_EQ(clock.elapsed(), c.waited);
        EXPECT_EQ(dropped, c.dropped);
    }
}

}  // namespace
}  // namespace zendrik::testing
