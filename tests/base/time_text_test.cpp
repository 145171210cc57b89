#include "base/time_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace zendrik::base {
namespace {

using ::testing::MatchesRegex;

// Times one after another as a stream writes them: the same second again, the next, an earlier
// one, before 1970, a year of five digits (which the text of a second is never kept for), and
// two seconds in turn and a third among them (a read's time and its first sighting's).
TEST(UtcText, WritesEverySecondOfAStream) {
    const std::vector<std::pair<int64_t, std::string>> times{
        {1796742480485, "2026-12-08T15:08:00.485Z"},
        {1796742480999, "2026-12-08T15:08:00.999Z"},
        {1796742481000, "2026-12-08T15:08:01.000Z"},
        {1796742480007, "2026-12-08T15:08:00.007Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
        {0, "1970-01-01T00:00:00.000Z"},
        {1796746880485, "2026-12-08T16:21:20.485Z"},
        {253402300800000, "10000-01-01T00:00:00.000Z"},
        {253402300800001, "10000-01-01T00:00:00.001Z"},
        {1796742480485, "2026-12-08T15:08:00.485Z"},
        {1796742481500, "2026-12-08T15:08:01.500Z"},
        {1796742480486, "2026-12-08T15:08:00.486Z"},
        {1796742481501, "2026-12-08T15:08:01.501Z"},
        {1796742482000, "2026-12-08T15:08:02.000Z"},
        {1796742480487, "2026-12-08T15:08:00.487Z"},
        {1796742482001, "2026-12-08T15:08:02.001Z"},
    };
    for (const auto& [utcMs, text] : times) {
        EXPECT_EQ(UtcText(utcMs), text) << utcMs;
        std::string appended = "time ";
        AppendUtcText(appended, utcMs);
        EXPECT_EQ(appended, "time " + text) << utcMs;
        if (text.size() == sizeof "2026-12-08T15:08:00.485Z" - 1) {
            EXPECT_EQ(ParseUtcText(text), utcMs) << text;  // and back, for four-digit years
        }
    }
    for (const char* bad :
         {"", "2026-12-08T15:08:00.485", "2026-12-08 15:08:00.485Z", "2026-12-08T15:08:00.48Z",
          "10000-01-01T00:00:00.000Z", "2026-12-08T15:08:00.485X"}) {
        EXPECT_EQ(ParseUtcText(bad), std::nullopt) << bad;
    }
}

TEST(LocalTimeStamp, CarriesMilliseconds) {
    using std::chrono::milliseconds;
    const auto second = std::chrono::system_clock::from_time_t(1'000'000'000);
    const std::string pattern = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.";
    EXPECT_THAT(LocalTimeStamp(second + milliseconds{42}), MatchesRegex(pattern + "042"));
    EXPECT_THAT(LocalTimeStamp(second), MatchesRegex(pattern + "000"));
    EXPECT_THAT(LocalTimeStamp(second + milliseconds{999}), MatchesRegex(pattern + "999"));
    // Before 1970 the millisecond part still counts up from the second before.
    EXPECT_THAT(LocalTimeStamp(std::chrono::system_clock::time_point{} - milliseconds{1}),
                MatchesRegex(pattern + "999"));
}

}  // namespace
}  // namespace zendrik::base
