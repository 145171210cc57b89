#include "cli/interrupt.h"

namespace zendrik::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void RaiseFlag(int) {
    interrupted = 1;
}

}  // namespace

InterruptFlag::InterruptFlag() {
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = RaiseFlag;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousInterrupt_);
    ::sigaction(SIGTERM, &action, &previousTerminate_);
}

InterruptFlag::~InterruptFlag() {
    ::sigaction(SIGINT, &previousInterrupt_, nullptr);
    ::sigaction(SIGTERM, &previousTerminate_, nullptr);
}

bool InterruptFlag::raised() const {
    return interrupted != 0;
}

}  // namespace zendrik::cli
