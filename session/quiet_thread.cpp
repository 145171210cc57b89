#include "session/quiet_thread.h"

#include <pthread.h>
#include <signal.h>

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

std::thread StartQuietThread(std::function<void()> body) {
    const AllSignalsBlocked blocked;  // a new thread starts with its creator's mask
    return std::thread(std::move(body));
}

}  // namespace zendrik::session
