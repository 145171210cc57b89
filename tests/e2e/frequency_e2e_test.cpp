// The frequency plan through the shared library on each link: layout A (kinds other than 2, in
// kilohertz) and layout B (kind 2, two setting bytes), chosen by the kind the handshake reported.

#include <gtest/gtest.h>

#include "sim/frequency_plan.h"
#include "tests/e2e/on_each_link.h"
#include "zendrik/zendrik.h"

namespace zendrik::e2e {
namespace {

constexpr uint8_t kRegionLayoutA = 4;
constexpr uint8_t kRegionLayoutB = 5;
constexpr int32_t kNotSent = -1;

struct Plan {
    uint8_t region = 0;
    int32_t first = kNotSent;
    int32_t second = kNotSent;
    int32_t step = kNotSent;
    uint8_t span = 0;
};

int32_t ReadPlan(Plan& plan) {
    return UhfGetFrequencyRegion(kAnyReader, &plan.region, &plan.first, &plan.second, &plan.step, &plan.span);
}

class FrequencyPlan : public OnEachLink {};

TEST_P(FrequencyPlan, LayoutAIsReadInKilohertzAndWrittenAsAFreePlan) {
    HandshakeAndSettle();
    Plan factory;
    ASSERT_EQ(ReadPlan(factory), ZENDRIK_OK);
    // The factory plan: channels 7 to 59 of the 902 MHz band.
    EXPECT_EQ(factory.region, kRegionLayoutA);
    EXPECT_EQ(factory.first, 902000);
    EXPECT_EQ(factory.step, 500);
    EXPECT_EQ(factory.span, 52);
    EXPECT_EQ(factory.second, kNotSent) << "layout A has no second value";

    EXPECT_EQ(UhfSetFrequencyRegion(kAnyReader, kRegionLayoutA, 865000, 868000, 500, 6), ZENDRIK_OK);
    const sim::FrequencyPlanA written = reader().settings().planA;
    EXPECT_EQ(written.region, sim::kRegionFree);
    EXPECT_EQ(written.startKhz, 865000u);
    Plan readBack;
    ASSERT_EQ(ReadPlan(readBack), ZENDRIK_OK);
    EXPECT_EQ(readBack.first, 865000);
    EXPECT_EQ(readBack.step, 500);
    EXPECT_EQ(readBack.span, 6);
}

TEST_P(FrequencyPlan, LayoutBCarriesTwoSettingBytesOnKindTwo) {
    reader().Reset(sim::kKindChannelList);
    HandshakeAndSettle();
    Plan factory;
    ASSERT_EQ(ReadPlan(factory), ZENDRIK_OK);
    EXPECT_EQ(factory.region, kRegionLayoutB);
    EXPECT_EQ(factory.first, 1);
    EXPECT_EQ(factory.second, 63);
    EXPECT_EQ(factory.step, kNotSent) << "layout B has no step";

    EXPECT_EQ(UhfSetFrequencyRegion(kAnyReader, kRegionLayoutB, 3, 40, 0, 0), ZENDRIK_OK);
    EXPECT_EQ(reader().settings().planB, (sim::FrequencyPlanB{3, 40}));
    Plan readBack;
    ASSERT_EQ(ReadPlan(readBack), ZENDRIK_OK);
    EXPECT_EQ(readBack.first, 3);
    EXPECT_EQ(readBack.second, 40);

    // Back to kind 0, so that the library's layout follows the next reader.
    reader().Reset(sim::kKindStandard);
    HandshakeAndSettle();
}

TEST_P(FrequencyPlan, APlanTheReaderRefusesFailsItsReadBack) {
    HandshakeAndSettle();
    const sim::FrequencyPlanA before = reader().settings().planA;
    // A zero step cannot make a channel list.
    EXPECT_EQ(UhfSetFrequencyRegion(kAnyReader, kRegionLayoutA, 902000, 928000, 0, 52), ZENDRIK_ERR_VERIFY);
    EXPECT_EQ(reader().settings().planA, before);
}

INSTANTIATE_TEST_SUITE_P(Links, FrequencyPlan, kEveryLink, LinkParamName);

}  // namespace
}  // namespace zendrik::e2e
