#include "daemon/readers/reader_state.h"

#include <array>

#include "daemon/common/log.h"

namespace zendrik::daemon {
namespace {

using State = ReaderState;
using Step = ReaderStep;

struct Transition {
    State from;
    Step step;
    State to;
};

// Every change of a reader's state. A stop asked while opening waits for the opening to end;
// a reader that could not be opened has nothing to stop; an opened one is stopped off the loop
// before it is closed.
constexpr std::array kTransitions{
    Transition{State::kOpening, Step::kOpened, State::kIdentifying},
    Transition{State::kOpening, Step::kOpenFailed, State::kFailed},
    Transition{State::kOpening, Step::kStopAsked, State::kOpeningToStop},
    Transition{State::kOpeningToStop, Step::kOpened, State::kStopping},
    Transition{State::kOpeningToStop, Step::kOpenFailed, State::kStopped},
    Transition{State::kFailed, Step::kStopAsked, State::kStopped},
    Transition{State::kIdentifying, Step::kIdentified, State::kReading},
    Transition{State::kIdentifying, Step::kStopAsked, State::kStopping},
    Transition{State::kReading, Step::kStopAsked, State::kStopping},
    Transition{State::kStopping, Step::kReadingStopped, State::kStopped},
    Transition{State::kStopped, Step::kCloseAsked, State::kClosing},
    Transition{State::kFailed, Step::kCloseAsked, State::kClosing},
    Transition{State::kClosing, Step::kClosed, State::kClosed},
};

}  // namespace

const char* ReaderStateName(ReaderState state) {
    switch (state) {
        case State::kOpening:
            return "opening";
        case State::kOpeningToStop:
            return "opening-to-stop";
        case State::kFailed:
            return "failed";
        case State::kIdentifying:
            return "identifying";
        case State::kReading:
            return "reading";
        case State::kStopping:
            return "stopping";
        case State::kStopped:
            return "stopped";
        case State::kClosing:
            return "closing";
        case State::kClosed:
            return "closed";
    }
    return "unknown";
}

const char* ReaderStepName(ReaderStep step) {
    switch (step) {
        case Step::kOpened:
            return "opened";
        case Step::kOpenFailed:
            return "open-failed";
        case Step::kIdentified:
            return "identified";
        case Step::kStopAsked:
            return "stop-asked";
        case Step::kReadingStopped:
            return "reading-stopped";
        case Step::kCloseAsked:
            return "close-asked";
        case Step::kClosed:
            return "closed";
    }
    return "unknown";
}

std::optional<ReaderState> NextReaderState(ReaderState state, ReaderStep step) {
    for (const Transition& transition : kTransitions) {
        if (transition.from == state && transition.step == step) {
            return transition.to;
        }
    }
    return std::nullopt;
}

bool ReaderStateMachine::Take(ReaderStep step) {
    const std::optional<ReaderState> next = NextReaderState(state_, step);
    if (!next) {
        LogDebug(label_ + ": " + ReaderStepName(step) + " ignored in state " + ReaderStateName(state_));
        return false;
    }
    LogDebug(label_ + ": " + ReaderStateName(state_) + " -> " + ReaderStateName(*next) + " (" +
             ReaderStepName(step) + ")");
    state_ = *next;
    return true;
}

bool ReaderStateMachine::callRunning() const {
    return state_ == State::kOpening || state_ == State::kOpeningToStop || state_ == State::kStopping ||
           state_ == State::kClosing;
}

bool ReaderStateMachine::stopAsked() const {
    return state_ != State::kOpening && state_ != State::kFailed && !reading();
}

bool ReaderStateMachine::sourceOpen() const {
    return state_ == State::kIdentifying || state_ == State::kReading || state_ == State::kStopping ||
           state_ == State::kStopped;
}

}  // namespace zendrik::daemon
