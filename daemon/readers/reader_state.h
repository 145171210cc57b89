#pragma once

#include <optional>
#include <string>
#include <utility>

namespace zendrik::daemon {

// Where one reader is between being opened and being closed. Opening, stopping and closing run
// off the loop (ReaderSource says why); while one of them runs, nothing else is started.
enum class ReaderState {
    kOpening,        // its source is being opened and started
    kOpeningToStop,  // a stop was asked while it was being opened: it stops once that has ended
    kFailed,         // it could not be opened at all
    kIdentifying,    // reading; its first answer to who it is has not come, so no status goes out yet
    kReading,        // reading, its status known
    kStopping,       // its reading is being stopped
    kStopped,        // reading has ended; what it queued is still to be taken
    kClosing,
    kClosed,
};

// What moves a reader from one state to the next.
enum class ReaderStep {
    kOpened,          // the source was opened (and started, unless a stop was asked meanwhile)
    kOpenFailed,      // the source could not be opened
    kIdentified,      // the first answer to who it is came (also a failed one)
    kStopAsked,       // the site wants it stopped
    kReadingStopped,  // the source's reading has ended
    kCloseAsked,      // its events are taken: the source is closed
    kClosed,          // the source is closed
};

const char* ReaderStateName(ReaderState state);
const char* ReaderStepName(ReaderStep step);

// The one table of the reader's states: the state `step` leads to from `state`, or nothing
// when the step means nothing there (a second stop, an answer that came after a stop).
std::optional<ReaderState> NextReaderState(ReaderState state, ReaderStep step);

// A reader's state as the table moves it, every change logged at debug level under `label`.
class ReaderStateMachine {
  public:
    explicit ReaderStateMachine(std::string label) : label_(std::move(label)) {}

    ReaderState state() const { return state_; }
    // Takes the step; false (and the state kept) when the table has no row for it.
    bool Take(ReaderStep step);

    // A call of the source runs off the loop (opening, stopping, closing).
    bool callRunning() const;
    // The source is open and reads: requests can be queued, events come.
    bool reading() const { return state_ == ReaderState::kIdentifying || state_ == ReaderState::kReading; }
    // A stop was asked (whatever has become of it since).
    bool stopAsked() const;
    // The source was opened and is not closed yet: its events can be taken.
    bool sourceOpen() const;

  private:
    std::string label_;
    ReaderState state_ = ReaderState::kOpening;
};

}  // namespace zendrik::daemon
