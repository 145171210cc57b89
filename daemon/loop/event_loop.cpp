#include "daemon/loop/event_loop.h"

#include <signal.h>
#include <sys/signalfd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <system_error>
#include <utility>

namespace zendrik::daemon {

struct EventSource::Callbacks : std::enable_shared_from_this<EventSource::Callbacks> {
    EventLoop* loop = nullptr;
    EventLoop::IoHandler io;
    EventLoop::TimerHandler timer;
    EventLoop::SignalHandler signal;

    // A handler's exception must not unwind through sd-event's C frames: it is kept, and the loop
    // ends so that Run() can rethrow it. A handler may drop its own source (a connection that
    // ended): the handler lives on until it returns.
    template <typename Call>
    int Guarded(Call&& call) {
        const std::shared_ptr<Callbacks> alive = shared_from_this();
        EventLoop* const owner = loop;
        try {
            call();
        } catch (...) {
            owner->failure_ = std::current_exception();
            sd_event_exit(owner->get(), EXIT_FAILURE);
        }
        return 0;
    }

    static int OnIo(sd_event_source*, int, uint32_t events, void* self) {
        auto* callbacks = static_cast<Callbacks*>(self);
        return callbacks->Guarded([&] { callbacks->io(events); });
    }
    static int OnTimer(sd_event_source*, uint64_t, void* self) {
        auto* callbacks = static_cast<Callbacks*>(self);
        return callbacks->Guarded([&] { callbacks->timer(); });
    }
    static int OnSignal(sd_event_source*, const signalfd_siginfo* info, void* self) {
        auto* callbacks = static_cast<Callbacks*>(self);
        return callbacks->Guarded([&] { callbacks->signal(*info); });
    }
};

namespace {

void Check(int result, const char* what) {
    if (result < 0) {
        throw std::system_error(-result, std::generic_category(), what);
    }
}

uint64_t MonotonicMicroseconds(std::chrono::steady_clock::time_point when) {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    return micros > 0 ? static_cast<uint64_t>(micros) : 0;
}

// Timers may fire this much late, so that the loop wakes less often; well below what any of the
// daemon's timers cares about.
constexpr uint64_t kTimerAccuracyUs = 1000;
// A deferred call is a timer due at the start of the clock: due at once whenever it is armed. It
// is not an sd-event defer source, since one of those scheduled again from its own call keeps the
// place in the queue it took first and so goes before everything of its priority, for ever.
constexpr uint64_t kDueAtOnceUs = 0;
constexpr uint64_t kDeferredAccuracyUs = 1;

}  // namespace

void EventSource::Enable(bool on) {
    if (source_) {
        sd_event_source_set_enabled(source_.get(), on ? SD_EVENT_ON : SD_EVENT_OFF);
    }
}

void EventSource::SetPriority(int64_t priority) {
    if (source_) {
        sd_event_source_set_priority(source_.get(), priority);
    }
}

void Deferred::Schedule() {
    if (source_.valid()) {
        sd_event_source_set_enabled(source_.get(), SD_EVENT_ONESHOT);
    }
}

void Timer::ArmAt(Clock::time_point when) {
    if (!source_.valid()) {
        return;
    }
    sd_event_source_set_time(source_.get(), MonotonicMicroseconds(when));
    sd_event_source_set_enabled(source_.get(), SD_EVENT_ONESHOT);
}

bool Timer::armed() const {
    int enabled = SD_EVENT_OFF;
    return source_.valid() && sd_event_source_get_enabled(source_.get(), &enabled) >= 0 &&
           enabled != SD_EVENT_OFF;
}

EventLoop::EventLoop(ClockReading now) : now_(std::move(now)) {
    sd_event* loop = nullptr;
    Check(sd_event_new(&loop), "sd_event_new");
    loop_.reset(loop);
}

EventSource EventLoop::AddIo(int fd, uint32_t events, IoHandler handler) {
    EventSource source;
    source.callbacks_ = std::make_shared<EventSource::Callbacks>();
    source.callbacks_->loop = this;
    source.callbacks_->io = std::move(handler);
    sd_event_source* raw = nullptr;
    Check(sd_event_add_io(loop_.get(), &raw, fd, events, &EventSource::Callbacks::OnIo,
                          source.callbacks_.get()),
          "sd_event_add_io");
    source.source_.reset(raw);
    return source;
}

void EventLoop::SetIoEvents(const EventSource& source, uint32_t events) {
    if (source.valid()) {
        sd_event_source_set_io_events(source.get(), events);
    }
}

// A timer and a deferred call are both time sources, disabled until armed: a timer due whenever it
// is armed, a deferred call due at once, so that each scheduling takes a fresh place in the queue.
EventSource EventLoop::AddTimeSource(uint64_t dueUs, uint64_t accuracyUs, int64_t priority,
                                     TimerHandler handler) {
    EventSource source;
    source.callbacks_ = std::make_shared<EventSource::Callbacks>();
    source.callbacks_->loop = this;
    source.callbacks_->timer = std::move(handler);
    sd_event_source* raw = nullptr;
    Check(sd_event_add_time(loop_.get(), &raw, CLOCK_MONOTONIC, dueUs, accuracyUs,
                            &EventSource::Callbacks::OnTimer, source.callbacks_.get()),
          "sd_event_add_time");
    source.source_.reset(raw);
    source.SetPriority(priority);
    source.Enable(false);
    return source;
}

Timer EventLoop::AddTimer(TimerHandler handler) {
    Timer timer;
    timer.source_ = AddTimeSource(std::numeric_limits<uint64_t>::max(), kTimerAccuracyUs, kTimerPriority,
                                  std::move(handler));
    return timer;
}

Deferred EventLoop::AddDeferred(int64_t priority, TimerHandler handler) {
    Deferred deferred;
    deferred.source_ = AddTimeSource(kDueAtOnceUs, kDeferredAccuracyUs, priority, std::move(handler));
    return deferred;
}

EventSource EventLoop::AddSignal(int signal, SignalHandler handler) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    Check(-pthread_sigmask(SIG_BLOCK, &set, nullptr), "pthread_sigmask");
    EventSource source;
    source.callbacks_ = std::make_shared<EventSource::Callbacks>();
    source.callbacks_->loop = this;
    source.callbacks_->signal = std::move(handler);
    sd_event_source* raw = nullptr;
    Check(sd_event_add_signal(loop_.get(), &raw, signal, &EventSource::Callbacks::OnSignal,
                              source.callbacks_.get()),
          "sd_event_add_signal");
    source.source_.reset(raw);
    source.SetPriority(kSignalPriority);
    return source;
}

void EventLoop::EnableWatchdog() {
    sd_event_set_watchdog(loop_.get(), 1);
}

// sd_event_loop() with its three steps taken apart, so that the work between two waits is timed.
int EventLoop::Run() {
    sd_event* const loop = loop_.get();
    int result = 0;
    while (result >= 0 && sd_event_get_state(loop) != SD_EVENT_FINISHED) {
        result = sd_event_prepare(loop);
        if (result == 0) {
            result = sd_event_wait(loop, std::numeric_limits<uint64_t>::max());
        }
        const Timer::Clock::time_point busy = now_();
        if (result > 0) {
            result = sd_event_dispatch(loop);
        }
        ObserveStall(now_() - busy);
    }
    if (failure_) {
        std::rethrow_exception(std::exchange(failure_, nullptr));
    }
    if (result < 0) {
        return result;
    }
    int code = 0;
    sd_event_get_exit_code(loop, &code);
    return code;
}

void EventLoop::ObserveStall(Timer::Clock::duration stall) {
    const double seconds = std::chrono::duration<double>(stall).count();
    stalls_.Observe(seconds);
    longestStall_ = std::max(longestStall_, seconds);
}

void EventLoop::RunOnce(std::chrono::milliseconds timeout) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    sd_event_run(loop_.get(),
                 micros < 0 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(micros));
    if (failure_) {
        std::rethrow_exception(std::exchange(failure_, nullptr));
    }
}

void EventLoop::Exit(int code) {
    sd_event_exit(loop_.get(), code);
}

}  // namespace zendrik::daemon
