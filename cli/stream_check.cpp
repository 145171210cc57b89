#include "cli/stream_check.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace zendrik::cli {
namespace {

// The fields that name a stream, in the order they win: a door's passage and a zone's event also
// name the reader that saw the tag.
constexpr std::array<const char*, 3> kStreamFields{"door", "zone", "reader"};
constexpr const char* kSpoolLost = "spool-lost";
// Gaps reported, per stream, that an event arriving late may still fill: the latest ones.
constexpr std::size_t kRememberedGaps = 1024;

std::optional<uint64_t> SeqOf(const Json& value) {
    if (value.is_number_unsigned()) {
        return value.get<uint64_t>();
    }
    if (value.is_number_integer() && value.get<int64_t>() >= 0) {
        return static_cast<uint64_t>(value.get<int64_t>());
    }
    return std::nullopt;
}

bool IsTrue(const Json& object, const char* field) {
    const auto it = object.find(field);
    return it != object.end() && it->is_boolean() && it->get<bool>();
}

bool IsText(const Json& object, const char* field, const char* text) {
    const auto it = object.find(field);
    return it != object.end() && it->is_string() && it->get<std::string>() == text;
}

Json Record(const char* what, const StreamKey& key, uint64_t first, uint64_t last) {
    Json span;
    span[key.kind] = key.name;
    span["from"] = first;
    span["to"] = last;
    Json record;
    record[what] = span;
    return record;
}

}  // namespace

std::optional<StreamKey> StreamOf(const Json& event) {
    if (!event.is_object() || !event.contains("seq") || !SeqOf(event["seq"])) {
        return std::nullopt;
    }
    for (const char* field : kStreamFields) {
        if (const auto it = event.find(field);
            it != event.end() && it->is_string() && !it->get<std::string>().empty()) {
            return StreamKey{field, it->get<std::string>()};
        }
    }
    return std::nullopt;
}

std::vector<Json> EventsOf(const Json& message) {
    std::vector<Json> events;
    if (message.is_array()) {
        for (const Json& part : message) {
            for (Json& event : EventsOf(part)) {
                events.push_back(std::move(event));
            }
        }
    } else if (message.is_object() && IsTrue(message, "batch")) {
        if (const auto reads = message.find("reads"); reads != message.end() && reads->is_array()) {
            std::copy_if(reads->begin(), reads->end(), std::back_inserter(events),
                         [](const Json& read) { return read.is_object(); });
        }
    } else if (message.is_object()) {
        events.push_back(message);
    }
    return events;
}

StreamChecker::StreamChecker(double gapWaitSeconds) : gapWait_(gapWaitSeconds) {
    if (gapWaitSeconds < 0) {
        throw std::invalid_argument("the gap wait must not be negative");
    }
}

std::vector<Json> StreamChecker::Offer(const Json& message, double now) {
    std::vector<Json> lines;
    for (const Json& event : EventsOf(message)) {
        if (const auto key = StreamOf(event)) {
            Take(*key, streams_[*key], event, now, lines);
        }
    }
    return lines;
}

std::vector<Json> StreamChecker::Tick(double now) {
    std::vector<Json> lines;
    for (auto& [key, stream] : streams_) {
        if (!stream.held.empty() && !stream.missingSince) {
            stream.missingSince = now;  // held back before a restart: the wait starts now
        }
        if (!stream.held.empty() && now - *stream.missingSince >= gapWait_) {
            GiveUpWaiting(key, stream, now, lines);
        }
    }
    return lines;
}

std::vector<Json> StreamChecker::Finish() {
    std::vector<Json> lines;
    for (auto& [key, stream] : streams_) {
        while (!stream.held.empty()) {
            GiveUpWaiting(key, stream, 0, lines);
        }
    }
    return lines;
}

void StreamChecker::Take(const StreamKey& key, Stream& stream, const Json& event, double now,
                         std::vector<Json>& lines) {
    const uint64_t seq = *SeqOf(event["seq"]);
    if (IsText(event, "event", kSpoolLost)) {
        const auto first = SeqOf(event.value("missing_from", Json()));
        const auto last = SeqOf(event.value("missing_to", Json()));
        if (first && last && *first <= *last) {
            stream.lost.push_back({*first, *last});
        }
    }
    if (!stream.next) {
        stream.next = seq;
    }
    if (seq < *stream.next && FillsGap(stream, seq)) {
        lines.push_back(event);  // late, but seen once: better out of order than never
        return;
    }
    if (seq < *stream.next || stream.held.contains(seq)) {
        ++duplicates_;
        return;
    }
    stream.held.emplace(seq, event);
    Release(key, stream, now, lines);
}

bool StreamChecker::FillsGap(Stream& stream, uint64_t seq) {
    const auto gap = std::find_if(stream.gaps.begin(), stream.gaps.end(),
                                  [seq](const Span& span) { return span.first <= seq && seq <= span.last; });
    if (gap == stream.gaps.end()) {
        return false;
    }
    const Span span = *gap;
    stream.gaps.erase(gap);
    if (span.first < seq) {
        stream.gaps.push_back({span.first, seq - 1});
    }
    if (seq < span.last) {
        stream.gaps.push_back({seq + 1, span.last});
    }
    ++late_;
    return true;
}

void StreamChecker::Release(const StreamKey& key, Stream& stream, double now, std::vector<Json>& lines) {
    for (;;) {
        SkipLost(key, stream, lines);
        const auto next = stream.held.find(*stream.next);
        if (next == stream.held.end()) {
            break;
        }
        lines.push_back(std::move(next->second));
        stream.held.erase(next);
        ++*stream.next;
    }
    if (stream.held.empty()) {
        stream.missingSince.reset();
    } else if (!stream.missingSince) {
        stream.missingSince = now;
    }
}

void StreamChecker::SkipLost(const StreamKey& key, Stream& stream, std::vector<Json>& lines) {
    std::sort(stream.lost.begin(), stream.lost.end(),
              [](const Span& a, const Span& b) { return a.first < b.first; });
    std::vector<Span> ahead;
    for (const Span& span : stream.lost) {
        if (span.last < *stream.next) {
            continue;  // announced again for numbers already behind
        }
        if (span.first <= *stream.next) {
            lines.push_back(Record("lost", key, *stream.next, span.last));
            *stream.next = span.last + 1;
        } else {
            ahead.push_back(span);
        }
    }
    stream.lost = std::move(ahead);
}

void StreamChecker::GiveUpWaiting(const StreamKey& key, Stream& stream, double now,
                                  std::vector<Json>& lines) {
    const uint64_t firstHeld = stream.held.begin()->first;
    ++gaps_;
    lines.push_back(Record("gap", key, *stream.next, firstHeld - 1));
    stream.gaps.push_back({*stream.next, firstHeld - 1});
    if (stream.gaps.size() > kRememberedGaps) {
        stream.gaps.erase(stream.gaps.begin());
    }
    stream.next = firstHeld;
    stream.missingSince.reset();
    Release(key, stream, now, lines);
}

Json StreamChecker::SpansJson(const std::vector<Span>& spans) {
    Json out = Json::array();
    for (const Span& span : spans) {
        out.push_back(Json::array({span.first, span.last}));
    }
    return out;
}

Json StreamChecker::State() const {
    Json state = Json::object();
    for (const auto& [key, stream] : streams_) {
        Json saved;
        saved["next"] = stream.next ? Json(*stream.next) : Json();
        saved["held"] = Json::array();
        for (const auto& [seq, event] : stream.held) {
            saved["held"].push_back(event);
        }
        saved["lost"] = SpansJson(stream.lost);
        saved["gaps"] = SpansJson(stream.gaps);
        state[key.kind + "/" + key.name] = saved;
    }
    return state;
}

void StreamChecker::Load(const Json& state) {
    if (!state.is_object()) {
        throw std::invalid_argument("the state is not a JSON object");
    }
    for (const auto& [name, saved] : state.items()) {
        const auto slash = name.find('/');
        const std::string kind = name.substr(0, slash);
        if (slash == std::string::npos || slash + 1 == name.size() || !saved.is_object() ||
            std::find_if(kStreamFields.begin(), kStreamFields.end(),
                         [&](const char* f) { return kind == f; }) == kStreamFields.end()) {
            throw std::invalid_argument("the state names no stream: " + name);
        }
        Stream stream;
        stream.next = SeqOf(saved.value("next", Json()));
        auto spans = [&](const char* field, std::vector<Span>& into) {
            for (const Json& span : saved.value(field, Json::array())) {
                const auto first = span.is_array() && span.size() == 2 ? SeqOf(span[0]) : std::nullopt;
                const auto last = span.is_array() && span.size() == 2 ? SeqOf(span[1]) : std::nullopt;
                if (!first || !last) {
                    throw std::invalid_argument("the state of " + name +
                                                " has a span that is not two numbers");
                }
                into.push_back({*first, *last});
            }
        };
        spans("lost", stream.lost);
        spans("gaps", stream.gaps);
        for (const Json& event : saved.value("held", Json::array())) {
            if (const auto seq = event.is_object() ? SeqOf(event.value("seq", Json())) : std::nullopt) {
                stream.held.emplace(*seq, event);
            }
        }
        // Held events came before the state was saved: their gap's wait starts anew.
        streams_[StreamKey{kind, name.substr(slash + 1)}] = std::move(stream);
    }
}

}  // namespace zendrik::cli
