// The factory-default sequence by reader kind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rules/factory_defaults.h"

namespace zendrik::rules {
namespace {

// "reset", "address*" (its result is the outcome), "frequency (keeping band)", ...
std::vector<std::string> Described(const FactoryDefaults& defaults) {
    std::vector<std::string> steps;
    for (const FactoryStep& step : defaults.steps) {
        std::string text(FactoryStepName(step));
        if (step.action == FactoryAction::kWriteKeepingBand) {
            text += " (keeping band)";
        }
        steps.push_back(step.decidesOutcome ? text + "*" : text);
    }
    return steps;
}

TEST(FactoryDefaults, StepsAndValuesByReaderKind) {
    const std::vector<std::string> common{"factory reset", "address*",       "Wiegand output interval",
                                          "trigger time",  "Wiegand format", "work mode"};
    const auto with = [&common](std::vector<std::string> tail) {
        std::vector<std::string> steps = common;
        steps.insert(steps.end(), tail.begin(), tail.end());
        return steps;
    };
    struct Case {
        uint8_t kind;
        std::vector<std::string> steps;
        uint8_t power;
        FrequencyPlan frequency;
    };
    const std::vector<Case> cases{
        {0, with({"frequency plan (keeping band)", "output power*"}), 33, {}},
        {1, with({"frequency plan (keeping band)", "output power*"}), 26, {}},
        {2, with({"frequency plan", "output power*"}), 63, {5, 1, 63, 0, 0}},
        {3, common, 0, {}},
    };
    for (const Case& c : cases) {
        const FactoryDefaults defaults = FactoryDefaultsFor(c.kind);
        EXPECT_EQ(Described(defaults), c.steps) << int{c.kind};
        const ReaderSettings& v = defaults.values;
        EXPECT_EQ(v.power, c.power);
        EXPECT_EQ(v.frequency, c.frequency);
        EXPECT_EQ(v.address, 1);
        EXPECT_EQ(v.wiegandInterval, 2);
        EXPECT_EQ(v.triggerTime, 3);
        EXPECT_EQ(v.wiegandFormat, 0x26);
        EXPECT_EQ(v.workMode, 0);
    }
}

TEST(FactoryDefaults, TheReaderStaysInItsBand) {
    EXPECT_EQ(WholeBandPlan(902000), (FrequencyPlan{4, 902000, 928000, 500, 52}));
    EXPECT_EQ(WholeBandPlan(927500), WholeBandPlan(902000));
    EXPECT_EQ(WholeBandPlan(901999), (FrequencyPlan{4, 865000, 868000, 500, 6}));
    EXPECT_EQ(WholeBandPlan(0), WholeBandPlan(865000));
}

}  // namespace
}  // namespace zendrik::rules
