#pragma once

#include <poll.h>
#include <zendrik_session.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/card_rule.h"
#include "cli/read_output.h"

namespace zendrik::cli {

class InterruptFlag;

struct StreamOptions {
    bool watch = false;   // read until interrupted (or the time-out), through link losses
    int count = 1;        // without watch: stop each reader after this many reads
    bool events = false;  // print every kind of event, not only reads
    ReadFormat format = ReadFormat::kText;
    double timeoutSeconds = 0;  // 0: none
    std::chrono::milliseconds absence{3000};
};

// A reader to stream and, when the command line replaced it, how its tags become card numbers.
// A reader opened absent was reported as such, so its first link loss is not reported again; what
// its card rule needs is read once it connects (kExitOk, or a failure already reported).
struct StreamedReader {
    zendrik::Reader reader;
    std::optional<CardRule> cardRule;
    bool absent = false;
    std::function<int(StreamedReader&)> onFirstConnect;
};

// The readers' inventories, run together: the events of every reader are taken as they come (the
// readers' event descriptors and the interrupt in one poll) and printed one line each, flushed.
// Without --watch a reader stops at its count, and a lost link ends it as a failure; with --watch
// reading goes on through link losses until an interrupt or the time-out.
class EventStream {
  public:
    EventStream(const StreamOptions& options, std::vector<StreamedReader> readers);
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // Reads until done; the exit status.
    int Run();

  private:
    struct Reading {
        StreamedReader streamed;
        std::string id;
        uint64_t reads = 0;
        uint64_t arrivals = 0;
        uint64_t droppedReported = 0;
        bool finished = false;
        bool failed = false;
        bool warnedNoCard = false;
    };
    enum class Ending { kDone, kInterrupted, kTimedOut, kFailed };

    int StartAll();
    Ending Stream(const InterruptFlag& interrupt);
    // The descriptors to wait on: the interrupt's, then each unfinished reader's, whose Reading
    // `owners` gets in the same places (null for the interrupt).
    std::vector<pollfd> WatchList(int interruptDescriptor, std::vector<Reading*>& owners);
    void Drain(Reading& reading);
    void Handle(Reading& reading, zendrik_event& raw);
    void HandleLink(Reading& reading, const zendrik::Event& event);
    void Finish(Reading& reading, bool failed);
    void ApplyCardRule(const Reading& reading, zendrik_event& raw) const;
    void WarnNoCard(Reading& reading, const zendrik::Event& event);
    bool AllFinished() const;
    int Outcome(Ending ending);
    std::string Prefix(const Reading& reading) const;
    std::string Shortfall(const Reading& reading, const std::string& when) const;
    void Print(const std::string& line) const;

    StreamOptions options_;
    std::vector<Reading> readings_;
    TextLayout layout_;
};

}  // namespace zendrik::cli
