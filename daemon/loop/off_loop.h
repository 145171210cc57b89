#pragma once

#include <exception>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "daemon/loop/event_loop.h"

namespace zendrik::daemon {

// Runs calls that block (opening a reader that takes a second to be given up, stopping one that
// finishes its round first) away from the loop: each call on a thread of its own, so that a
// hundred readers opened or stopped at once take as long as the slowest of them. What a call
// returns is run on the loop's thread once it has ended; an exception it threw is thrown there.
class OffLoop {
  public:
    // Runs on its own thread; returns what the loop is to do with the result.
    using Work = std::function<std::function<void()>()>;

    explicit OffLoop(EventLoop& loop);
    // Waits for the calls still running; what they return is not run.
    ~OffLoop();
    OffLoop(const OffLoop&) = delete;
    OffLoop& operator=(const OffLoop&) = delete;

    void Run(Work work);
    // Calls started whose result the loop has not taken yet.
    std::size_t running() const { return calls_.size(); }

  private:
    struct Call {
        std::thread thread;
        std::function<void()> then;
        std::exception_ptr failure;
        bool done = false;
    };
    void TakeFinished();

    int wakeFd_ = -1;
    EventSource wake_;
    std::mutex mutex_;       // guards `then`, `failure` and `done` of every call
    std::list<Call> calls_;  // the list itself changes on the loop's thread only
};

}  // namespace zendrik::daemon
