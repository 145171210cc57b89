#pragma once

#include <systemd/sd-event.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "daemon/common/histogram.h"

struct signalfd_siginfo;

namespace zendrik::daemon {

// One event source of the loop: I/O, a timer or a signal. Move-only; going out of scope disables
// and frees it, so a component that owns its sources cannot be called back after it has gone.
class EventSource {
  public:
    EventSource() = default;
    bool valid() const { return source_ != nullptr; }
    sd_event_source* get() const { return source_.get(); }
    // Stops or resumes delivery without freeing the source.
    void Enable(bool on);
    // Among sources ready at once, those of a lower value run first (0 is sd-event's normal).
    void SetPriority(int64_t priority);

  private:
    friend class EventLoop;
    struct Disabler {
        void operator()(sd_event_source* source) const { sd_event_source_disable_unref(source); }
    };
    struct Callbacks;  // the handler behind the source's user data; lives as long as the source
    std::unique_ptr<sd_event_source, Disabler> source_;
    std::shared_ptr<Callbacks> callbacks_;
};

// A timer on the monotonic clock (std::chrono::steady_clock is that clock on Linux) that can be
// armed again and again: it fires once per arming.
class Timer {
  public:
    using Clock = std::chrono::steady_clock;
    Timer() = default;
    void ArmAt(Clock::time_point when);
    void ArmIn(Clock::duration delay) { ArmAt(Clock::now() + delay); }
    void Disarm() { source_.Enable(false); }
    // Armed and not yet fired.
    bool armed() const;
    bool valid() const { return source_.valid(); }

  private:
    friend class EventLoop;
    EventSource source_;
};

// Among the sources ready at once sd-event runs the one of the lowest priority value, one per turn,
// so a source that is always ready keeps every source of a higher value waiting. The signals go
// first, so that a stop is obeyed however much else there is to do; the timers next, above every
// descriptor: a timer runs once per arming, so it cannot keep a descriptor waiting for long, and a
// deadline, a status round or a store window is kept however busy the descriptors are (the
// readers' and the broker's run at -1, sd-event's normal is 0).
inline constexpr int64_t kSignalPriority = SD_EVENT_PRIORITY_IMPORTANT;
inline constexpr int64_t kTimerPriority = -2;

// A call the loop makes on one of its next turns, after the sources of a higher priority that are
// ready: scheduled several times before that turn, it runs once. Scheduled again from its own call,
// it comes after the sources of its own priority that turned ready meanwhile, as a timer due at
// once would (it is one): a call that always has more to do takes a bounded piece per turn and
// never keeps the others of its priority waiting.
class Deferred {
  public:
    Deferred() = default;
    void Schedule();
    bool valid() const { return source_.valid(); }

  private:
    friend class EventLoop;
    EventSource source_;
};

// The daemon's one loop over sd-event: I/O, timers, signals and the systemd watchdog. Handlers run
// on the loop's thread, one at a time; an exception thrown from one ends the loop with failure
// after logging it is the caller's business (it is rethrown from Run()).
class EventLoop {
  public:
    using IoHandler = std::function<void(uint32_t events)>;  // EPOLLIN, EPOLLOUT, EPOLLERR, EPOLLHUP
    using TimerHandler = std::function<void()>;
    using SignalHandler = std::function<void(const signalfd_siginfo& info)>;
    using ClockReading = std::function<Timer::Clock::time_point()>;

    // Throws std::system_error when sd-event cannot be set up. `now` times the loop's stalls
    // (tests give a clock of their own).
    explicit EventLoop(ClockReading now = Timer::Clock::now);
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    sd_event* get() const { return loop_.get(); }

    EventSource AddIo(int fd, uint32_t events, IoHandler handler);
    // Changes the events an I/O source waits for (EPOLLOUT only while there is something to write).
    static void SetIoEvents(const EventSource& source, uint32_t events);
    // A timer at kTimerPriority, disarmed until ArmAt/ArmIn.
    Timer AddTimer(TimerHandler handler);
    // Not scheduled until Schedule(); runs at `priority` (see EventSource::SetPriority).
    Deferred AddDeferred(int64_t priority, TimerHandler handler);
    // The signal is blocked for the calling thread first, as sd-event needs; threads started
    // after it inherit that. It runs at kSignalPriority.
    EventSource AddSignal(int signal, SignalHandler handler);

    // Pings the systemd watchdog from the loop at half of WATCHDOG_USEC, when the service has one:
    // a wedged loop stops pinging. A silent no-op without a watchdog.
    void EnableWatchdog();

    // Runs until Exit(); rethrows an exception a handler threw. Every turn is timed from the
    // moment the loop had work (its wait ended, or work was pending already) to the moment it
    // could wait again: that is how long a descriptor that turned ready meanwhile went unseen.
    int Run();
    // The turns of Run() so far, in seconds, and the longest of them.
    const Histogram& stallSeconds() const { return stalls_; }
    double longestStallSeconds() const { return longestStall_; }
    // One iteration: waits at most `timeout` for something to do.
    void RunOnce(std::chrono::milliseconds timeout);
    void Exit(int code);

  private:
    EventSource AddTimeSource(uint64_t dueUs, uint64_t accuracyUs, int64_t priority, TimerHandler handler);
    struct Unref {
        void operator()(sd_event* loop) const { sd_event_unref(loop); }
    };
    void ObserveStall(Timer::Clock::duration stall);

    std::unique_ptr<sd_event, Unref> loop_;
    ClockReading now_;
    Histogram stalls_;
    double longestStall_ = 0;
    std::exception_ptr failure_;  // a handler's exception, for Run() to rethrow
    friend struct EventSource::Callbacks;
};

}  // namespace zendrik::daemon
