#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

// The consumer's half of "nothing lost": every event of a site once, each stream in order, and every
// number that never came reported as a gap or as an announced loss.
//
// zendrikd numbers each reader's events (and each zone's and door's) with a seq of their own that is
// never given twice, and delivers at least once. Keeping, for each stream, the next number expected
// makes a duplicate a number below it and a hole a later number that came first. A hole is a gap
// only once the gap wait has passed without the missing numbers (a bridge or a reconnect can
// reorder), and a range a spool-lost event announced is a loss the daemon owned up to, not a gap.
// The checker is given events and the time and answers with the lines to print, so the MQTT
// listener, stored webhook bodies and the tests drive the same rules (the Python package's
// zendrik.stream_check keeps the same ones, checked against the same table).
namespace zendrik::cli {

using Json = nlohmann::ordered_json;

struct StreamKey {
    std::string kind;  // "reader", "zone" or "door"
    std::string name;
    auto operator<=>(const StreamKey&) const = default;
};

// The stream of an event, or nothing for a payload that is not a numbered event.
std::optional<StreamKey> StreamOf(const Json& event);
// The events of a message: one event, a batch of reads, or a webhook body (an array of them).
std::vector<Json> EventsOf(const Json& message);

class StreamChecker {
  public:
    explicit StreamChecker(double gapWaitSeconds);

    // The lines to print, oldest first: each event once (itself), {"gap":{KIND:NAME,"from":A,"to":B}}
    // for numbers that never came, {"lost":{…}} for numbers a spool-lost event announced. An event
    // whose number was reported as a gap and that comes after all is given then, late.
    std::vector<Json> Offer(const Json& message, double now);
    // Lets time pass: holes whose wait has run out become gaps.
    std::vector<Json> Tick(double now);
    // Everything that will come has come: every hole still open is a gap.
    std::vector<Json> Finish();

    // Each stream's next number, the events held back, the losses announced ahead and the gaps a
    // late event may still fill, as JSON; Load throws std::invalid_argument for a state it cannot use.
    Json State() const;
    void Load(const Json& state);

    uint64_t gaps() const { return gaps_; }
    uint64_t duplicates() const { return duplicates_; }
    uint64_t late() const { return late_; }

  private:
    struct Span {
        uint64_t first = 0;
        uint64_t last = 0;
    };
    struct Stream {
        std::optional<uint64_t> next;
        std::map<uint64_t, Json> held;  // came before `next` did
        std::optional<double> missingSince;
        std::vector<Span> lost;
        std::vector<Span> gaps;
    };

    static Json SpansJson(const std::vector<Span>& spans);
    void Take(const StreamKey& key, Stream& stream, const Json& event, double now, std::vector<Json>& lines);
    bool FillsGap(Stream& stream, uint64_t seq);
    void Release(const StreamKey& key, Stream& stream, double now, std::vector<Json>& lines);
    void SkipLost(const StreamKey& key, Stream& stream, std::vector<Json>& lines);
    void GiveUpWaiting(const StreamKey& key, Stream& stream, double now, std::vector<Json>& lines);

    double gapWait_;
    uint64_t gaps_ = 0;
    uint64_t duplicates_ = 0;
    uint64_t late_ = 0;
    std::map<StreamKey, Stream> streams_;
};

}  // namespace zendrik::cli
