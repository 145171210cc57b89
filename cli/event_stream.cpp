#include "cli/event_stream.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "cli/interrupt.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"
#include "rules/card_number.h"

namespace zendrik::cli {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kWaitForEver = -1;
constexpr SteadyClock::time_point kNoDeadline = SteadyClock::time_point::max();
constexpr int32_t kTakeWithoutWaiting = 0;

void CopyCard(zendrik_event& raw, const std::string& card) {
    const std::size_t length = std::min(card.size(), sizeof raw.card - 1);
    std::memcpy(raw.card, card.data(), length);
    raw.card[length] = '\0';
}

// "1 read", "2 reads".
std::string Counted(uint64_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Milliseconds poll() may wait: until the deadline, or for ever without one.
int PollTimeout(SteadyClock::time_point deadline) {
    if (deadline == kNoDeadline) {
        return kWaitForEver;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

}  // namespace

EventStream::EventStream(const StreamOptions& options, std::vector<StreamedReader> readers)
    : options_(options) {
    for (StreamedReader& streamed : readers) {
        std::string id = streamed.reader.id();
        readings_.push_back(Reading{std::move(streamed), std::move(id)});
    }
    layout_.reader = readings_.size() > 1;
    layout_.kind = options_.events;
}

int EventStream::Run() {
    if (const std::optional<std::string> header = ReadHeader(options_.format)) {
        Print(*header);
    }
    // Taken from before the start, so that an interrupt while the readers start still stops them.
    const InterruptFlag interrupt;
    if (const int status = StartAll(); status != kExitOk) {
        return status;
    }
    const Ending ending = Stream(interrupt);
    for (Reading& reading : readings_) {
        zendrik_inventory_stop(reading.streamed.reader.get());
    }
    return Outcome(ending);
}

int EventStream::StartAll() {
    // The library's threads block every signal: the interrupt always comes to this one.
    zendrik::InventoryOptions inventory;
    inventory.absence = options_.absence;
    for (Reading& reading : readings_) {
        try {
            reading.streamed.reader.start_inventory(inventory);
        } catch (const zendrik::Error& error) {
            return Report(Prefix(reading) + "cannot start reading: " + zendrik::result_words(error.code()));
        }
    }
    return kExitOk;
}

EventStream::Ending EventStream::Stream(const InterruptFlag& interrupt) {
    const SteadyClock::time_point deadline =
        options_.timeoutSeconds > 0
            ? SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                       std::chrono::duration<double>(options_.timeoutSeconds))
            : kNoDeadline;
    while (!AllFinished()) {
        std::vector<Reading*> owners;
        std::vector<pollfd> watched = WatchList(interrupt.descriptor(), owners);
        const int ready = ::poll(watched.data(), watched.size(), PollTimeout(deadline));
        if (interrupt.raised()) {
            return Ending::kInterrupted;
        }
        if (ready < 0 && errno != EINTR) {
            Report(std::string("cannot wait for events: ") + std::strerror(errno));
            return Ending::kFailed;
        }
        if (SteadyClock::now() >= deadline) {
            return Ending::kTimedOut;
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (owners[i] != nullptr && watched[i].revents != 0) {
                Drain(*owners[i]);
            }
        }
    }
    return Ending::kDone;
}

std::vector<pollfd> EventStream::WatchList(int interruptDescriptor, std::vector<Reading*>& owners) {
    std::vector<pollfd> watched;
    if (interruptDescriptor >= 0) {
        watched.push_back({interruptDescriptor, POLLIN, 0});
        owners.push_back(nullptr);
    }
    for (Reading& reading : readings_) {
        if (!reading.finished) {
            watched.push_back({reading.streamed.reader.event_fd(), POLLIN, 0});
            owners.push_back(&reading);
        }
    }
    return watched;
}

void EventStream::Drain(Reading& reading) {
    zendrik_reader* handle = reading.streamed.reader.get();
    zendrik_event raw{};
    while (!reading.finished &&
           zendrik_next_event(handle, &raw, sizeof raw, kTakeWithoutWaiting) == ZENDRIK_OK) {
        Handle(reading, raw);
    }
    // The queue keeps the newest events when the output cannot keep up: say how many went.
    const uint64_t dropped = zendrik_inventory_dropped(handle);
    if (dropped > reading.droppedReported) {
        Report(Prefix(reading) + std::to_string(dropped - reading.droppedReported) +
                   " events dropped: the output did not keep up",
               kExitOk);
        reading.droppedReported = dropped;
    }
}

void EventStream::Handle(Reading& reading, zendrik_event& raw) {
    ApplyCardRule(reading, raw);
    const zendrik::Event event(raw);
    switch (event.kind()) {
        case zendrik::EventKind::read:
            if (event.card().empty()) {
                WarnNoCard(reading, event);
            }
            Print(FormatEvent(options_.format, event, layout_));
            ++reading.reads;
            if (!options_.watch && reading.reads >= static_cast<uint64_t>(options_.count)) {
                Finish(reading, false);
            }
            return;
        case zendrik::EventKind::arrived:
            ++reading.arrivals;
            break;
        case zendrik::EventKind::departed:
            break;
        case zendrik::EventKind::link_lost:
        case zendrik::EventKind::link_restored:
            HandleLink(reading, event);
            return;
        case zendrik::EventKind::link_up:
            break;  // the stream's first word: the reader answered at open, as it had to
        case zendrik::EventKind::completed:
            return;  // nothing is submitted here
    }
    if (options_.events) {
        Print(FormatEvent(options_.format, event, layout_));
    }
}

void EventStream::HandleLink(Reading& reading, const zendrik::Event& event) {
    const bool lost = event.kind() == zendrik::EventKind::link_lost;
    if (options_.events) {
        Print(FormatEvent(options_.format, event, layout_));
    }
    const bool reportedAtOpen = std::exchange(reading.streamed.absent, false) && lost;
    if (!lost && reading.streamed.onFirstConnect) {
        if (std::exchange(reading.streamed.onFirstConnect, nullptr)(reading.streamed) != kExitOk) {
            Finish(reading, true);
            return;
        }
    }
    if (reportedAtOpen) {
        return;
    }
    if (lost && !options_.watch) {
        // Counted reads end at the first failure, as a single read does.
        Report(Prefix(reading) + "reading a tag failed: " + zendrik::result_words(event.error()));
        Finish(reading, true);
        return;
    }
    if (!options_.events) {
        Report(Prefix(reading) + (lost ? "link lost: " + zendrik::result_words(event.error())
                                       : std::string("link restored")),
               kExitOk);
    }
}

void EventStream::Finish(Reading& reading, bool failed) {
    reading.finished = true;
    reading.failed = failed;
    zendrik_inventory_stop(reading.streamed.reader.get());
}

void EventStream::ApplyCardRule(const Reading& reading, zendrik_event& raw) const {
    const bool tag = raw.kind == ZENDRIK_EVENT_READ || raw.kind == ZENDRIK_EVENT_ARRIVED ||
                     raw.kind == ZENDRIK_EVENT_DEPARTED;
    if (!tag || !reading.streamed.cardRule) {
        return;
    }
    const std::size_t length = std::min<std::size_t>(raw.epc_length, sizeof raw.epc);
    const std::optional<std::string> card =
        reading.streamed.cardRule->CardOf(std::span<const uint8_t>(raw.epc, length));
    CopyCard(raw, card.value_or(""));
}

// A tag that stays in the field is read again and again: say once what is wrong.
void EventStream::WarnNoCard(Reading& reading, const zendrik::Event& event) {
    if (reading.warnedNoCard) {
        return;
    }
    reading.warnedNoCard = true;
    const std::string epc = rules::HexText(event.epc());
    const std::string why = reading.streamed.cardRule
                                ? "its EPC is too short for the card number's bytes"
                                : "the reader's output settings select no bytes of it; give --wiegand "
                                  "26|34 or --epc START:LEN";
    Report(Prefix(reading) + "tag " + epc + " gives no card number: " + why, kExitOk);
}

bool EventStream::AllFinished() const {
    return std::all_of(readings_.begin(), readings_.end(), [](const Reading& r) { return r.finished; });
}

int EventStream::Outcome(Ending ending) {
    int status = ending == Ending::kFailed ? kExitFailure : kExitOk;
    for (const Reading& reading : readings_) {
        if (reading.failed) {
            status = kExitFailure;
        } else if (options_.watch) {
            Report(Prefix(reading) + "stopped after " + Counted(reading.reads, "read") + " (" +
                       Counted(reading.arrivals, "arrival") + ")",
                   kExitOk);
        } else if (!reading.finished && ending != Ending::kFailed) {
            const std::string when = ending == Ending::kTimedOut
                                         ? "in " + SecondsText(options_.timeoutSeconds) + " s"
                                         : std::string("before the interrupt");
            status = Report(Prefix(reading) + Shortfall(reading, when));
        }
    }
    return status;
}

std::string EventStream::Prefix(const Reading& reading) const {
    return layout_.reader ? reading.id + ": " : std::string{};
}

std::string EventStream::Shortfall(const Reading& reading, const std::string& when) const {
    return "only " + std::to_string(reading.reads) + " of " + std::to_string(options_.count) + " tags read " +
           when;
}

void EventStream::Print(const std::string& line) const {
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace zendrik::cli
