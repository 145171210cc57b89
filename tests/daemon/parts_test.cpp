// The daemon's pure parts: the loop (no source kept waiting by one that is always busy), reconnect
// back-off, topics and status payloads, and the systemd notifications against a notify socket of
// the test's own.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "daemon/loop/event_loop.h"
#include "daemon/loop/notify.h"
#include "daemon/common/payloads.h"
#include "daemon/mqtt/publish_latency.h"
#include "zendrik/zendrik_session.h"
#include "tests/daemon/child_process.h"
#include "tests/daemon/notify_socket.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::daemon {
namespace {

using std::chrono::milliseconds;

// One loop serves a descriptor, a timer armed again from its own handler, a deferred call and a
// signal; a handler's exception ends the loop and comes out of Run().
TEST(EventLoopTest, ServesIoTimersAndSignalsAndRethrowsAHandlersFailure) {
    EventLoop loop;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::string received;
    EventSource io = loop.AddIo(pipeFds[0], EPOLLIN, [&](uint32_t) {
        char byte = 0;
        ASSERT_EQ(::read(pipeFds[0], &byte, 1), 1);
        received += byte;
    });
    int fired = 0;
    Timer timer;
    timer = loop.AddTimer([&] {
        if (++fired < 3) {
            timer.ArmIn(milliseconds{1});
        }
    });
    timer.ArmIn(milliseconds{1});
    // A deferred call scheduled twice before its turn runs once, after the sources of a higher
    // priority that are ready (the pipe written below).
    int deferredRuns = 0;
    std::string receivedBefore;
    Deferred deferred = loop.AddDeferred(1, [&] {
        ++deferredRuns;
        receivedBefore = received;
    });
    deferred.Schedule();
    deferred.Schedule();
    int signalled = 0;
    EventSource hangUp = loop.AddSignal(SIGHUP, [&](const signalfd_siginfo& info) {
        signalled = static_cast<int>(info.ssi_signo);
        loop.Exit(0);
    });
    ASSERT_EQ(::write(pipeFds[1], "z", 1), 1);
    for (int turn = 0; turn < 100 && (received.empty() || fired < 3); ++turn) {
        loop.RunOnce(milliseconds{10});
    }
    EXPECT_EQ(received, "z");
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(deferredRuns, 1);
    EXPECT_EQ(receivedBefore, "z");
    ::kill(::getpid(), SIGHUP);
    EXPECT_EQ(loop.Run(), 0);
    EXPECT_EQ(signalled, SIGHUP);

    EventLoop another;  // a loop that has exited is done with
    Timer failing = another.AddTimer([] { throw std::runtime_error("handler failed"); });
    failing.ArmIn(milliseconds{0});
    EXPECT_THROW(another.Run(), std::runtime_error);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

// A deferred call that always has more to do (it schedules itself again from every run, as the
// store does under a flood of reads) keeps neither a descriptor of its own priority (the broker's
// socket), nor a timer, nor a signal waiting: each of them runs within a turn or two of being ready.
TEST(EventLoopTest, ADeferredCallScheduledAgainOnEveryTurnStarvesNoOtherSource) {
    EventLoop loop;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    int runs = 0;
    Deferred flood;
    constexpr int64_t kBusyPriority = -1;
    flood = loop.AddDeferred(kBusyPriority, [&] {
        ++runs;
        flood.Schedule();
    });
    flood.Schedule();
    for (int turn = 0; turn < 3; ++turn) {
        loop.RunOnce(milliseconds{10});
    }
    std::vector<int> seenAfterRuns;  // how often the flood had run when each of the others ran
    const int runsBefore = runs;
    EventSource io = loop.AddIo(pipeFds[0], EPOLLIN, [&](uint32_t) {
        char byte = 0;
        ASSERT_EQ(::read(pipeFds[0], &byte, 1), 1);
        seenAfterRuns.push_back(runs - runsBefore);
    });
    io.SetPriority(kBusyPriority);
    Timer timer = loop.AddTimer([&] { seenAfterRuns.push_back(runs - runsBefore); });
    EventSource user =
        loop.AddSignal(SIGUSR2, [&](const signalfd_siginfo&) { seenAfterRuns.push_back(runs - runsBefore); });
    ASSERT_EQ(::write(pipeFds[1], "z", 1), 1);
    timer.ArmIn(milliseconds{0});
    ::kill(::getpid(), SIGUSR2);
    constexpr int kTurnsAtMost = 100;
    constexpr int kFloodRunsBetween = 3;
    for (int turn = 0; turn < kTurnsAtMost && seenAfterRuns.size() < 3; ++turn) {
        loop.RunOnce(milliseconds{10});
    }
    ASSERT_EQ(seenAfterRuns.size(), 3u) << "the flood ran " << runs - runsBefore << " times meanwhile";
    EXPECT_LE(seenAfterRuns.back(), kFloodRunsBetween);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

// Each turn of Run() is timed by the loop's clock from the end of its wait to the next one: a
// handler that takes 7 ms shows as one turn in the 10 ms bucket and as the longest.
TEST(EventLoopTest, TimesEveryTurnOfRun) {
    Timer::Clock::time_point now{};
    EventLoop loop([&] { return now; });
    Deferred slow;
    Deferred quick = loop.AddDeferred(0, [&] { loop.Exit(0); });
    slow = loop.AddDeferred(0, [&] {
        now += milliseconds{7};
        quick.Schedule();
    });
    slow.Schedule();
    ASSERT_EQ(loop.Run(), 0);
    const Histogram& turns = loop.stallSeconds();
    const auto tenMs = std::find(Histogram::kBounds.begin(), Histogram::kBounds.end(), 0.01);
    EXPECT_EQ(turns.counts()[static_cast<std::size_t>(tenMs - Histogram::kBounds.begin())], 1u);
    EXPECT_EQ(turns.counts()[0], turns.count() - 1);  // every other turn took no time
    EXPECT_GE(turns.count(), 2u);
    EXPECT_DOUBLE_EQ(loop.longestStallSeconds(), 0.007);
}

// Messages are observed from their store to their acknowledgement, per reader in seq order; what
// an acknowledgement passes over (dropped, forgotten, answered before) is never observed later.
TEST(PublishLatencyTest, ObservesEachAcknowledgedMessageOnce) {
    using Clock = PublishLatency::Clock;
    struct Step {
        bool stored;  // else acknowledged
        std::string reader;
        uint64_t seq;
    };
    struct Case {
        std::string name;
        std::vector<Step> steps;
        uint64_t observed;
    };
    const std::vector<Case> cases{
        {"in order", {{true, "a", 1}, {true, "a", 2}, {false, "a", 1}, {false, "a", 2}}, 2},
        {"readers apart", {{true, "a", 1}, {true, "b", 1}, {false, "b", 1}, {false, "a", 1}}, 2},
        {"passed over", {{true, "a", 1}, {true, "a", 2}, {false, "a", 2}, {false, "a", 1}}, 1},
        {"twice", {{true, "a", 1}, {false, "a", 1}, {false, "a", 1}}, 1},
        {"never stored", {{true, "a", 2}, {false, "b", 2}, {false, "a", 1}}, 0},
    };
    for (const Case& c : cases) {
        PublishLatency latency;
        const Clock::time_point start{};
        for (const Step& step : c.steps) {
            if (step.stored) {
                latency.Stored(step.reader, step.seq, start);
            } else {
                latency.Acknowledged(step.reader, step.seq, start + milliseconds{2});
            }
        }
        EXPECT_EQ(latency.histogram().count(), c.observed) << c.name;
        EXPECT_DOUBLE_EQ(latency.histogram().sum(), 0.002 * static_cast<double>(c.observed)) << c.name;
    }
    // Beyond what it remembers, the oldest is forgotten.
    PublishLatency full;
    for (uint64_t seq = 1; seq <= PublishLatency::kRemembered + 1; ++seq) {
        full.Stored("a", seq, Clock::time_point{});
    }
    full.Acknowledged("a", 1, Clock::time_point{});
    EXPECT_EQ(full.histogram().count(), 0u);
    full.Acknowledged("a", 2, Clock::time_point{});
    EXPECT_EQ(full.histogram().count(), 1u);
}

TEST(PayloadTest, TopicsTimesAndStatuses) {
    const Topics topics("plant/zendrik", "dock-3");
    EXPECT_EQ(topics.SiteStatus(), "plant/zendrik/dock-3/status");
    EXPECT_EQ(topics.ForEvent("gate-1", ZENDRIK_EVENT_READ), "plant/zendrik/dock-3/gate-1/reads");
    EXPECT_EQ(topics.ForEvent("gate-1", ZENDRIK_EVENT_DEPARTED), "plant/zendrik/dock-3/gate-1/events");
    EXPECT_EQ(topics.ReaderStatus("gate-1"), "plant/zendrik/dock-3/gate-1/status");
    EXPECT_EQ(topics.AllCommands(), "plant/zendrik/dock-3/+/cmd");
    EXPECT_EQ(topics.Reply("gate-1"), "plant/zendrik/dock-3/gate-1/reply");
    EXPECT_EQ(topics.ReaderOfCommand("plant/zendrik/dock-3/gate-1/cmd"), "gate-1");
    for (const char* other :
         {"plant/zendrik/dock-3/gate-1/reply", "plant/zendrik/dock-4/gate-1/cmd", "plant/zendrik/dock-3//cmd",
          "plant/zendrik/dock-3/a/b/cmd", "plant/zendrik/dock-3/cmd"}) {
        EXPECT_EQ(topics.ReaderOfCommand(other), "") << other;
    }

    ReaderStatus unknown;
    unknown.timeMs = 0;
    unknown.spooled = 4;
    EXPECT_EQ(ReaderStatusJson(unknown),
              R"({"state":"link-lost","time":"1970-01-01T00:00:00.000Z","kind":null,"version":null,)"
              R"("serial":null,"reads":0,"spooled":4,"dropped":0,"dead":0,"spool":"ok","published":0,)"
              R"("inventory":"running","settings":"unmanaged"})");
    ReaderStatus known;
    known.linkUp = true;
    known.timeMs = 1796746880485;
    known.kind = 2;
    known.version = "V2.1 \"b\"\\x01";
    known.serial = "0011aabb";
    known.reads = 7;
    known.dropped = 3;
    known.dead = 2;
    known.spoolFull = true;
    known.published = 5;
    known.inventoryRunning = false;
    known.settings = "drifted";
    known.driftJson = R"({"power":{"want":26,"have":33}})";
    EXPECT_EQ(
        ReaderStatusJson(known),
        R"({"state":"online","time":"2026-12-08T16:21:20.485Z","kind":2,"version":"V2.1 \"b\"\\x01",)"
        R"("serial":"0011aabb","reads":7,"spooled":0,"dropped":3,"dead":2,"spool":"full","published":5,)"
        R"("inventory":"stopped","settings":"drifted","drift":{"power":{"want":26,"have":33}}})");
    // Bytes that are not UTF-8 are replaced rather than refused.
    known.version = std::string("\xff\xfe", 2);
    EXPECT_NE(ReaderStatusJson(known).find("\"version\":\"\xef\xbf\xbd\xef\xbf\xbd\""), std::string::npos);

    EXPECT_EQ(SiteOnlineJson(1000, 0, 8), R"({"state":"online","time":"1970-01-01T00:00:01.000Z",)"
                                          R"("since":"1970-01-01T00:00:00.000Z","readers":8})");
    EXPECT_EQ(SiteOfflineJson(), R"({"state":"offline"})");
    EXPECT_EQ(SpoolLostJson("gate-1", 1202, 1000, 590, 1201),
              R"({"event":"spool-lost","reader":"gate-1","seq":1202,"time":"1970-01-01T00:00:01.000Z",)"
              R"("missing_from":590,"missing_to":1201})");
}

TEST(NotifyTest, TellsSystemdReadyStatusWatchdogAndStopping) {
    testing::TemporaryDirectory directory;
    ::setenv("WATCHDOG_USEC", "3000000", 1);
    ::unsetenv("WATCHDOG_PID");
    {
        testing::NotifySocket socket(directory.File("notify"));
        ::setenv("NOTIFY_SOCKET", socket.path().c_str(), 1);
        Notifier notifier;
        ASSERT_TRUE(notifier.watchdogPeriod().has_value());
        EXPECT_EQ(*notifier.watchdogPeriod(), milliseconds{1000});
        notifier.Ready("broker unreachable");
        EXPECT_EQ(socket.Next(), "READY=1\nSTATUS=broker unreachable");
        notifier.Status("broker unreachable");
        EXPECT_EQ(socket.Next(), "") << "an unchanged status is not sent again";
        notifier.Status("broker connected");
        EXPECT_EQ(socket.Next(), "STATUS=broker connected");
        notifier.Watchdog();
        EXPECT_EQ(socket.Next(), "WATCHDOG=1");
        notifier.Stopping("stopping");
        EXPECT_EQ(socket.Next(), "STOPPING=1\nSTATUS=stopping");
        ::unsetenv("NOTIFY_SOCKET");
    }
    ::unsetenv("WATCHDOG_USEC");
    // Without a notify socket or a watchdog everything is a silent no-op.
    Notifier quiet;
    EXPECT_FALSE(quiet.watchdogPeriod().has_value());
    quiet.Ready("x");
    quiet.Watchdog();
    quiet.Stopping("y");
}

}  // namespace
}  // namespace zendrik::daemon
