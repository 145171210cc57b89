#include "daemon/loop/off_loop.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

namespace zendrik::daemon {
namespace {

// The ends of blocking calls (a reader opened, stopped or closed) run beside the timers, above
// every descriptor: there is one per call, so they cannot keep the descriptors waiting, and under a
// flood of reads, when the readers' and the broker's descriptors are always ready, the start still
// says it is ready once the readers are open and a stop still goes on once they have stopped.
constexpr int64_t kCallEndPriority = kTimerPriority;

}  // namespace

OffLoop::OffLoop(EventLoop& loop) : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wakeFd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    wake_ = loop.AddIo(wakeFd_, EPOLLIN, [this](uint32_t) { TakeFinished(); });
    wake_.SetPriority(kCallEndPriority);
}

OffLoop::~OffLoop() {
    for (Call& call : calls_) {
        call.thread.join();
    }
    wake_ = EventSource();
    ::close(wakeFd_);
}

void OffLoop::Run(Work work) {
    Call& call = calls_.emplace_back();
    call.thread = std::thread([this, &call, work = std::move(work)]() mutable {
        // Signals belong to the loop's own descriptors, never to a thread like this.
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        std::function<void()> then;
        std::exception_ptr failure;
        try {
            then = work();
        } catch (...) {
            failure = std::current_exception();
        }
        // What the work held (a reader source it closes, say) goes here, on this thread.
        work = nullptr;
        {
            std::lock_guard lock(mutex_);
            call.then = std::move(then);
            call.failure = failure;
            call.done = true;
        }
        const uint64_t one = 1;
        (void)::write(wakeFd_, &one, sizeof one);
    });
}

void OffLoop::TakeFinished() {
    uint64_t count = 0;
    (void)::read(wakeFd_, &count, sizeof count);
    std::vector<std::function<void()>> thens;
    std::exception_ptr failure;
    for (auto call = calls_.begin(); call != calls_.end();) {
        bool done = false;
        {
            std::lock_guard lock(mutex_);
            done = call->done;
        }
        if (!done) {
            ++call;
            continue;
        }
        call->thread.join();
        if (call->failure && !failure) {
            failure = call->failure;
        }
        if (call->then) {
            thens.push_back(std::move(call->then));
        }
        call = calls_.erase(call);
    }
    // Taken off the list first: a result may start the next call.
    for (const std::function<void()>& then : thens) {
        then();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace zendrik::daemon
