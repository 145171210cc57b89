#include "sim/frequency_plan.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/frame.h"
#include "sim/reader.h"
#include "tests/sim/reply_view.h"

namespace zendrik::sim {
namespace {

using testing::Ask;
using Bytes = std::vector<uint8_t>;

// What the library makes of a layout A read: start in kHz, step in kHz, span in 500 kHz steps.
struct PlanView {
    int32_t first = 0;
    int32_t step = 0;
    uint8_t span = 0;
    bool operator==(const PlanView&) const = default;
};

PlanView DecodeLikeTheLibrary(const Bytes& data) {
    switch (data.at(0)) {
        case 1:
        case 3:
            return {902000 + (data.at(1) - 7) * 500, 500, static_cast<uint8_t>(data.at(2) - data.at(1))};
        case 2:
            return {865000 + data.at(1) * 500, 500, static_cast<uint8_t>(data.at(2) - data.at(1))};
        case 4: {
            const int32_t step = data.at(1) * 10;
            return {data.at(3) << 16 | data.at(4) << 8 | data.at(5), step,
                    static_cast<uint8_t>(data.at(2) * step / 500)};
        }
        default:
            ADD_FAILURE() << "region " << int(data.at(0));
            return {};
    }
}

// The five data bytes UhfSetFrequencyRegion sends in layout A.
Bytes LayoutAWrite(int32_t first, int32_t step, uint8_t span) {
    return {static_cast<uint8_t>(step / 10), span, static_cast<uint8_t>(first >> 16),
            static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first)};
}

TEST(SimFrequencyPlan, LayoutAReadsDecodeToTheRegionsFrequencies) {
    const struct {
        FrequencyPlanA plan;
        Bytes data;
        PlanView view;
    } cases[] = {
        {{1, 7, 59}, {1, 7, 59}, {902000, 500, 52}},
        {{3, 7, 59}, {3, 7, 59}, {902000, 500, 52}},
        {{2, 4, 10}, {2, 4, 10}, {867000, 500, 6}},
        {{4, 0, 0, 25, 20, 902250}, {4, 25, 20, 0x0D, 0xC4, 0x6A}, {902250, 250, 10}},
    };
    for (const auto& read : cases) {
        Reader reader(kKindStandard);
        ASSERT_TRUE(reader.ModifySettings([&](ReaderSettings& settings) { settings.planA = read.plan; }));
        const Bytes data = Ask(reader, command::kGetFrequency).data();
        EXPECT_EQ(data, read.data);
        EXPECT_EQ(DecodeLikeTheLibrary(data), read.view);
    }
}

TEST(SimFrequencyPlan, LayoutARegionCodesOutsideOneToFourCarryNothingElse) {
    for (const uint8_t region : {uint8_t{0}, uint8_t{5}, uint8_t{200}}) {
        Reader reader(kKindStandard);
        reader.ModifySettings([&](ReaderSettings& settings) { settings.planA = {region, 7, 59}; });
        EXPECT_EQ(Ask(reader, command::kGetFrequency).data(), Bytes{region});
    }
}

TEST(SimFrequencyPlan, LayoutAWriteReadsBackWhatTheLibraryCompares) {
    const PlanView writes[] = {
        {902000, 500, 52}, {865000, 500, 6}, {902250, 250, 10}, {920625, 250, 15},
        {902000, 200, 13}, {865500, 400, 1}, {902000, 500, 0},  {868000, 100, 51},
    };
    for (const PlanView& plan : writes) {
        for (const uint8_t kind : {kKindStandard, kKindNarrowPower}) {
            Reader reader(kind);
            EXPECT_EQ(
                Ask(reader, command::kSetFrequency, LayoutAWrite(plan.first, plan.step, plan.span)).status(),
                kStatusOk);
            const Bytes data = Ask(reader, command::kGetFrequency).data();
            EXPECT_EQ(data.at(0), kRegionFree);
            EXPECT_EQ(DecodeLikeTheLibrary(data), plan)
                << plan.first << " " << plan.step << " " << int(plan.span);
        }
    }
}

TEST(SimFrequencyPlan, LayoutAWriteOfTheToolsFccPlanSendsTheWorkedBytes) {
    EXPECT_EQ(LayoutAWrite(902000, 500, 52), (Bytes{0x32, 0x34, 0x0D, 0xC3, 0x70}));
    const std::optional<FrequencyPlanA> plan = DecodePlanAWrite(Bytes{0x32, 0x34, 0x0D, 0xC3, 0x70});
    ASSERT_TRUE(plan);
    EXPECT_EQ(*plan, (FrequencyPlanA{kRegionFree, 0, 0, 50, 52, 902000}));
}

TEST(SimFrequencyPlan, LayoutAWritesThatCannotReadBackAreRefused) {
    const Bytes refused[] = {
        {0, 52, 0x0D, 0xC3, 0x70},   // zero step
        {100, 1, 0x0D, 0xC3, 0x70},  // 1000 kHz steps cover even spans only
        {1, 200, 0x0D, 0xC3, 0x70},  // 10 kHz steps: 200 spans need 10000 channels
        {50, 52, 0x0D, 0xC3},        // four bytes
    };
    for (const Bytes& data : refused) {
        Reader reader(kKindStandard);
        EXPECT_EQ(Ask(reader, command::kSetFrequency, data).status(), kStatusRefused);
        EXPECT_EQ(Ask(reader, command::kGetFrequency).data(), (Bytes{1, 7, 59}));
    }
}

TEST(SimFrequencyPlan, LayoutBWritesAndReadsTheTwoSettingBytes) {
    Reader reader(kKindChannelList);
    EXPECT_EQ(Ask(reader, command::kGetFrequency).data(), (Bytes{1, 63}));
    EXPECT_EQ(Ask(reader, command::kSetFrequency, {3, 1, 0, 0, 0}).status(), kStatusOk);
    EXPECT_EQ(Ask(reader, command::kGetFrequency).data(), (Bytes{3, 1}));
    EXPECT_EQ(reader.settings().planB, (FrequencyPlanB{3, 1}));
    // The layout A plan is kept apart and untouched.
    EXPECT_EQ(reader.settings().planA, FactoryDefaults(kKindChannelList).planA);
    EXPECT_EQ(Ask(reader, command::kSetFrequency, {3, 1}).status(), kStatusRefused);
}

}  // namespace
}  // namespace zendrik::sim
