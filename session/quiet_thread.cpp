#include "session/quiet_thread.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <utility>

namespace zendrik::session {
namespace {

// Puts the caller's signal mask back however the start ends.
class AllSignalsBlocked {
  public:
    AllSignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous_);
    }
    ~AllSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

  private:
    sigset_t previous_{};
};

}  // namespace

std::thread StartQuietThread(std::string name, std::function<void()> body) {
    name.resize(std::min(name.size(), kThreadNameMost));
    const AllSignalsBlocked blocked;  // a new thread starts with its creator's mask
    return std::thread([name = std::move(name), body = std::move(body)] {
        // A name is only a label: the thread runs the same without one.
        (void)pthread_setname_np(pthread_self(), name.c_str());
        body();
    });
}

}  // namespace zendrik::session
