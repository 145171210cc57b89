#include "cli/interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zendrik::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;
// The write end of the wake-up pipe, for the handler; -1 while there is none.
volatile std::sig_atomic_t wakeWrite = -1;

void RaiseFlag(int) {
    const int savedErrno = errno;
    interrupted = 1;
    if (wakeWrite >= 0) {
        const char byte = 1;
        // Non-blocking: a pipe already full has woken the reader anyway.
        [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &byte, sizeof byte);
    }
    errno = savedErrno;
}

}  // namespace

InterruptFlag::InterruptFlag() {
    interrupted = 0;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = ends[0];
        wakeWrite = ends[1];
    }
    struct sigaction action {};
    action.sa_handler = RaiseFlag;
    // Writes to standard output go on after the handler; poll() still returns early.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousInterrupt_);
    ::sigaction(SIGTERM, &action, &previousTerminate_);
}

InterruptFlag::~InterruptFlag() {
    ::sigaction(SIGINT, &previousInterrupt_, nullptr);
    ::sigaction(SIGTERM, &previousTerminate_, nullptr);
    if (wakeRead_ >= 0) {
        ::close(wakeWrite);
        wakeWrite = -1;
        ::close(wakeRead_);
    }
}

bool InterruptFlag::raised() const {
    return interrupted != 0;
}

}  // namespace zendrik::cli
