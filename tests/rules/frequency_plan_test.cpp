// Bands, the channel table, the plans the frequency commands carry, and the value ranges by kind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include "rules/frequency_plan.h"
#include "rules/reader_settings.h"
#include "rules/value_ranges.h"

namespace zendrik::rules {
namespace {

using ::testing::ElementsAre;

TEST(FrequencyPlan, Bands) {
    EXPECT_EQ(BandEntries(kFccBand).size(), 53u);
    EXPECT_EQ(BandEntries(kFccBand).back(), "928000");
    EXPECT_THAT(BandEntries(kEtsiBand),
                ElementsAre("865000", "865500", "866000", "866500", "867000", "867500", "868000"));
    EXPECT_EQ(&BandOfLowerFrequency(901999), &kEtsiBand);
    EXPECT_EQ(&BandOfLowerFrequency(902000), &kFccBand);
    EXPECT_EQ(BandIndexOf(kEtsiBand, 865500), 1);
    EXPECT_EQ(BandIndexOf(kEtsiBand, 864000), -2);
    EXPECT_EQ(BandIndexOf(kEtsiBand, std::numeric_limits<int32_t>::min()), -4296697);
    EXPECT_EQ(BandIndexOf(kFccBand, std::numeric_limits<int32_t>::max()), 4293163);
    EXPECT_TRUE(OnBandGrid(kEtsiBand, 868000));
    EXPECT_FALSE(OnBandGrid(kEtsiBand, 868500));
    EXPECT_FALSE(OnBandGrid(kFccBand, 902250));
}

TEST(FrequencyPlan, ChannelEntriesOfEveryKindOfRegion) {
    struct Case {
        int region;
        std::size_t count;
        std::vector<std::string> first;
        std::string last;
    };
    const std::vector<Case> cases{
        {0, 63, {"01--902600", "02--903000"}, "63--927400"},
        {22, 42, {"01--902750", "02--903250", "03--905750", "04--907250"}, "42--926250"},
        {20, 1, {"01--916250"}, "01--916250"},
        {24, 11, {"01--922250"}, "11--927250"},
        {5, 0, {}, ""},
        {14, 0, {}, ""},
        {25, 0, {}, ""},
        {-1, 0, {}, ""},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> entries = ChannelEntries(c.region);
        ASSERT_EQ(entries.size(), c.count) << c.region;
        EXPECT_EQ(ChannelCount(c.region), static_cast<int32_t>(c.count));
        EXPECT_TRUE(std::equal(c.first.begin(), c.first.end(), entries.begin())) << c.region;
        if (c.count > 0) {
            EXPECT_EQ(entries.back(), c.last);
        }
    }
    EXPECT_EQ(kLastChannel, 63);
}

TEST(FrequencyPlan, PlansAsTheFrequencyCommandsCarryThem) {
    EXPECT_EQ(BandPlanOfEntries(kFccBand, 2, 10), (FrequencyPlan{4, 903000, 907000, 500, 8}));
    EXPECT_EQ(BandPlanOfEntries(kEtsiBand, 0, 6), (FrequencyPlan{4, 865000, 868000, 500, 6}));
    EXPECT_EQ(BandPlanOfEntries(kEtsiBand, 0, 7), std::nullopt);
    EXPECT_EQ(BandPlanOfEntries(kFccBand, -1, 3), std::nullopt);
    // A band plan as read (no upper frequency reported) is written with its upper frequency.
    const FrequencyPlan read{4, 902000, 0, 500, 52};
    EXPECT_EQ(FrequencyWriteFor(0, read), (FrequencyPlan{4, 902000, 928000, 500, 52}));
    EXPECT_EQ(FrequencyWriteFor(1, read), FrequencyWriteFor(0, read));
    EXPECT_EQ(FrequencyWriteFor(2, FrequencyPlan{5, 3, 1, 400, 9}), (FrequencyPlan{5, 3, 1, 0, 0}));
}

TEST(ValueRanges, ByKindAndFormat) {
    EXPECT_EQ(PowerRangeOf(0)->max, 33);
    EXPECT_EQ(PowerRangeOf(1)->min, 18);
    EXPECT_EQ(PowerRangeOf(1)->max, 26);
    EXPECT_EQ(PowerRangeOf(2)->max, 63);
    EXPECT_EQ(PowerRangeOf(3), std::nullopt);
    EXPECT_EQ(LastWiegandStartByte(kWiegand26Code), 9);
    EXPECT_EQ(LastWiegandStartByte(kWiegand34Code), 8);
    EXPECT_EQ(LastWiegandStartByte(0), std::nullopt);
    EXPECT_TRUE(OutputFitsWindow(11, 1));
    EXPECT_FALSE(OutputFitsWindow(11, 2));
    EXPECT_FALSE(OutputFitsWindow(-1, 2));
    EXPECT_FALSE(kTriggerTimeRange.Contains(255));
}

TEST(ReaderSettings, PasswordTextBothWays) {
    EXPECT_EQ(PasswordText(PasswordBytes{0x5E, 0x2B, 0x90, 0x07}), "5e2b9007");
    struct Case {
        const char* text;
        bool valid;
        PasswordBytes bytes;
    };
    const std::vector<Case> cases{
        {"0A1b2C3d", true, {0x0A, 0x1B, 0x2C, 0x3D}},
        {"0a1b2c3", false, {0x0A, 0x1B, 0x2C, 0x03}},
        {"0x1b2c3d", false, {0x00, 0x1B, 0x2C, 0x3D}},
        {"zz", false, {0, 0, 0, 0}},
        {"", false, {0, 0, 0, 0}},
        {"0a1b2c3d4e", false, {0x0A, 0x1B, 0x2C, 0x3D}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsPasswordText(c.text), c.valid) << c.text;
        EXPECT_EQ(PasswordBytesOf(c.text), c.bytes) << c.text;
    }
    ReaderSettings settings;
    settings.output = {0, 2, 3, 1};
    EXPECT_EQ(OutputBytesToWrite(settings), (OutputBytes{1, 2, 3, 1}));
}

}  // namespace
}  // namespace zendrik::rules
