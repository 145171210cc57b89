#include "base/time_text.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zendrik::base {
namespace {

constexpr int64_t kMsPerSecond = 1000;
constexpr int kFirstCalendarYear = 1900;
constexpr std::size_t kCalendarLength = sizeof "2000-01-01T00:00:00" - 1;
constexpr int kHundreds = 100;
constexpr int kTens = 10;

// Whole seconds rounded down, so that times before 1970 keep a millisecond part of 0..999.
struct SplitTime {
    int64_t seconds;
    int millis;
};

SplitTime Split(int64_t ms) {
    int64_t seconds = ms / kMsPerSecond;
    int64_t millis = ms % kMsPerSecond;
    if (millis < 0) {
        millis += kMsPerSecond;
        --seconds;
    }
    return {seconds, static_cast<int>(millis)};
}

void AppendMillis(std::string& out, int millis) {
    out.push_back('.');
    out.push_back(static_cast<char>('0' + millis / kHundreds));
    out.push_back(static_cast<char>('0' + millis / kTens % kTens));
    out.push_back(static_cast<char>('0' + millis % kTens));
}

// The calendar part of a whole second, "2026-12-08T15:08:00". Events come many a second, so each
// thread keeps the text of the last seconds it wrote (the library's threads and their callers write
// events at once). Two of them: a read's own time and the time its tag was first seen differ.
struct CalendarText {
    int64_t seconds = 0;
    bool known = false;
    std::array<char, kCalendarLength> text{};
};
constexpr std::size_t kCalendarTextsKept = 2;

void AppendCalendarSecond(std::string& out, int64_t seconds) {
    thread_local std::array<CalendarText, kCalendarTextsKept> kept{};
    thread_local std::size_t oldest = 0;
    for (const CalendarText& entry : kept) {
        if (entry.known && entry.seconds == seconds) {
            out.append(entry.text.data(), kCalendarLength);
            return;
        }
    }
    const auto whole = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (::gmtime_r(&whole, &parts) == nullptr) {
        parts = std::tm{};  // beyond what the calendar functions can give: the epoch's fields
    }
    char text[64];
    const int length =
        std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d",
                      static_cast<long long>(parts.tm_year) + kFirstCalendarYear, parts.tm_mon + 1,
                      parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    if (length != static_cast<int>(kCalendarLength)) {
        out.append(text);  // a year beyond four digits: written as it is, never kept
        return;
    }
    CalendarText& entry = kept[oldest];
    std::memcpy(entry.text.data(), text, kCalendarLength);
    entry.seconds = seconds;
    entry.known = true;
    oldest = (oldest + 1) % kCalendarTextsKept;
    out.append(entry.text.data(), kCalendarLength);
}

}  // namespace

std::string LocalTimeStamp(std::chrono::system_clock::time_point when) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const SplitTime split = Split(duration_cast<milliseconds>(when.time_since_epoch()).count());
    const auto seconds = static_cast<std::time_t>(split.seconds);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[sizeof "2000-01-01T00:00:00"];
    const std::size_t used = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::string stamp(text, used);
    AppendMillis(stamp, split.millis);
    return stamp;
}

void AppendUtcText(std::string& out, int64_t utcMs) {
    const SplitTime split = Split(utcMs);
    AppendCalendarSecond(out, split.seconds);
    AppendMillis(out, split.millis);
    out.push_back('Z');
}

std::optional<int64_t> ParseUtcText(std::string_view text) {
    // "2026-12-09T22:08:56.123Z": the six calendar fields, the milliseconds and the closing Z.
    constexpr int kFields = 7;
    constexpr std::size_t kLength = sizeof "2026-12-09T22:08:56.123Z" - 1;
    constexpr int kFirstCalendarYear = 1900;
    constexpr int64_t kMsPerSecond = 1000;
    if (text.size() != kLength) {
        return std::nullopt;
    }
    const std::string copy(text);  // sscanf needs the terminator
    std::tm parts{};
    int millis = 0;
    char zone = 0;
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &parts.tm_year, &parts.tm_mon,
                    &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &millis,
                    &zone) != kFields + 1 ||
        zone != 'Z') {
        return std::nullopt;
    }
    parts.tm_year -= kFirstCalendarYear;
    parts.tm_mon -= 1;
    return static_cast<int64_t>(timegm(&parts)) * kMsPerSecond + millis;
}

std::string UtcText(int64_t utcMs) {
    std::string text;
    AppendUtcText(text, utcMs);
    return text;
}

}  // namespace zendrik::base
