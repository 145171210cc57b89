// The settings table: values checked with the tool's ranges, the writes in the order of the
// tool's Save Changes, the read-back compared, and the JSON of `zendrik config --json`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rules/settings_json.h"
#include "rules/settings_table.h"

namespace zendrik::rules {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

ReaderSettings Current() {
    ReaderSettings settings;
    settings.wiegandFormat = 0x26;
    settings.output = {1, 9, 3, 0};
    settings.frequency = {4, 902000, 0, 500, 52};
    settings.power = 33;
    return settings;
}

std::string Plan(std::vector<std::string> assignments, uint8_t kind, ChangePlan& plan) {
    return PlanChanges(assignments, kind, Current(), plan);
}

TEST(SettingsTable, RefusesValuesOutsideTheToolsRanges) {
    struct Case {
        uint8_t kind;
        std::vector<std::string> assignments;
        const char* error;
    };
    const std::vector<Case> cases{
        {0, {}, "nothing to set"},
        {0, {"power"}, "expected NAME=VALUE"},
        {0, {"=3"}, "expected NAME=VALUE"},
        {0, {"colour=red"}, "unknown setting \"colour\""},
        {0, {"wiegand-interval=0"}, "from 1 to 20"},
        {0, {"wiegand-interval=21"}, "from 1 to 20"},
        {0, {"trigger-time=255"}, "from 1 to 254"},
        {0, {"trigger-time=0"}, "from 1 to 254"},
        {0, {"trigger-time=1x"}, "from 1 to 254"},
        {0, {"read-interval=256"}, "from 0 to 255"},
        {0, {"address=256"}, "from 0 to 255"},
        {0, {"power=34"}, "from 0 to 33"},
        {1, {"power=17"}, "from 18 to 26"},
        {1, {"power=27"}, "from 18 to 26"},
        {2, {"power=64"}, "from 0 to 63"},
        {3, {"power=10"}, "cannot be set on a reader of kind 3"},
        {0, {"buzzer=1"}, "buzzer must be on or off"},
        {0, {"work-mode=sometimes"}, "always or trigger"},
        {0, {"wiegand-format=32"}, "26 or 34"},
        {0, {"output-order=backwards"}, "forward or inverted"},
        {0, {"output-start=12"}, "from 0 to 11"},
        {0, {"output-length=13"}, "from 1 to 12"},
        {0, {"output-start=10"}, "runs past the 12 EPC bytes"},
        {0, {"output-start=9", "wiegand-format=34"}, "output-length 4 runs past"},
        {0, {"output-start=4", "output-length=9"}, "runs past"},
        {0, {"password=abcdefg"}, "8 hexadecimal digits"},
        {0, {"password=abcdefgh"}, "8 hexadecimal digits"},
        {0, {"frequency=902000"}, "LOW-HIGH"},
        {0, {"frequency=928000-902000"}, "LOW-HIGH"},
        {0, {"frequency=902100-903000"}, "500 kHz apart"},
        {0, {"frequency=865000-868500"}, "within one band"},
        {0, {"frequency=864500-866000"}, "within one band"},
        {0, {"frequency=902000-928500"}, "within one band"},
        {0, {"channels=1-63"}, "does not apply to a reader of kind 0"},
        {2, {"frequency=902000-928000"}, "does not apply to a reader of kind 2"},
        {2, {"channels=0-63"}, "each from 1 to 63"},
        {2, {"channels=1-64"}, "each from 1 to 63"},
        {0, {"band=etsi"}, "band cannot be set"},
        {0, {"buzzer=on", "buzzer=off"}, "buzzer is given twice"},
    };
    for (const Case& c : cases) {
        ChangePlan plan;
        EXPECT_THAT(Plan(c.assignments, c.kind, plan), HasSubstr(c.error))
            << ::testing::PrintToString(c.assignments);
    }
}

TEST(SettingsTable, AcceptsTheEdgesOfTheRanges) {
    struct Case {
        uint8_t kind;
        std::string assignment;
    };
    const std::vector<Case> cases{
        {0, "wiegand-interval=1"},
        {0, "wiegand-interval=20"},
        {0, "trigger-time=1"},
        {0, "trigger-time=254"},
        {0, "read-interval=0"},
        {0, "read-interval=255"},
        {0, "address=0"},
        {0, "address=255"},
        {0, "power=0"},
        {0, "power=33"},
        {1, "power=18"},
        {1, "power=26"},
        {2, "power=63"},
        {0, "output-start=9"},
        {0, "output-length=3"},
        {0, "password=DEADbeef"},
        {0, "frequency=902000-902000"},
        {0, "frequency=865000-868000"},
        {1, "frequency=902000-928000"},
        {2, "channels=63-1"},
        {3, "frequency=903500-904000"},
    };
    for (const Case& c : cases) {
        ChangePlan plan;
        EXPECT_EQ(Plan({c.assignment}, c.kind, plan), "") << c.assignment;
    }
}

TEST(SettingsTable, WritesGoInTheToolsSaveOrderEachOnce) {
    ChangePlan plan;
    ASSERT_EQ(
        Plan({"power=20", "frequency=865500-867000", "read-interval=4", "address=3", "password-check=on",
              "password=01020304", "output-order=inverted", "output-start=1", "wiegand-format=34",
              "work-mode=trigger", "trigger-time=7", "buzzer=off", "wiegand-interval=5"},
             0, plan),
        "");
    EXPECT_THAT(
        plan.commands,
        ElementsAre(SettingCommand::kWiegandInterval, SettingCommand::kBuzzer, SettingCommand::kTriggerTime,
                    SettingCommand::kWorkMode, SettingCommand::kWiegandFormat, SettingCommand::kOutputBytes,
                    SettingCommand::kPassword, SettingCommand::kAddress, SettingCommand::kReadInterval,
                    SettingCommand::kFrequency, SettingCommand::kPower));
    EXPECT_EQ(plan.named.size(), 13u);
}

TEST(SettingsTable, ValuesLandInTheReadersEncoding) {
    ChangePlan plan;
    ASSERT_EQ(Plan({"wiegand-format=34", "output-start=8", "output-order=inverted", "password=0A1b2C3d",
                    "password-check=on", "work-mode=trigger", "frequency=865500-867000"},
                   0, plan),
              "");
    EXPECT_EQ(plan.target.wiegandFormat, 0x34);
    // A new format puts out its own byte count.
    EXPECT_THAT(plan.target.output, ElementsAre(1, 8, 4, 1));
    EXPECT_THAT(plan.target.password, ElementsAre(0x0A, 0x1B, 0x2C, 0x3D));
    EXPECT_EQ(plan.target.passwordCheck, 1);
    EXPECT_EQ(plan.target.workMode, 1);
    EXPECT_EQ(plan.target.frequency.first, 865500);
    EXPECT_EQ(plan.target.frequency.second, 867000);
    EXPECT_EQ(plan.target.frequency.step, 500);
    EXPECT_EQ(plan.target.frequency.span, 3);
}

TEST(SettingsTable, AnExplicitLengthWinsOverTheFormatsByteCount) {
    ChangePlan plan;
    ASSERT_EQ(Plan({"wiegand-format=26", "output-start=0", "output-length=12"}, 0, plan), "");
    EXPECT_EQ(plan.target.output[kOutputLength], 12);
    EXPECT_THAT(plan.commands, ElementsAre(SettingCommand::kWiegandFormat, SettingCommand::kOutputBytes));
}

// The one setting a write changes besides itself, which a program that keeps declared values sends
// along: a plan then keeps the declared length, where without it the format's byte count wins.
TEST(SettingsTable, AWiegandFormatChangesTheOutputLengthAlong) {
    const std::vector<std::pair<std::string_view, std::string_view>> along{
        {"wiegand-format", "output-length"},
        {"output-length", ""},
        {"output-start", ""},
        {"power", ""},
        {"no-such-setting", ""},
    };
    for (const auto& [name, changed] : along) {
        EXPECT_EQ(ChangedAlongWith(name), changed) << name;
    }
    ChangePlan formatOnly;
    ASSERT_EQ(Plan({"wiegand-format=26"}, 0, formatOnly), "");
    EXPECT_EQ(formatOnly.target.output[kOutputLength], 3);
    ChangePlan withLength;
    ASSERT_EQ(
        Plan({"wiegand-format=26", std::string(ChangedAlongWith("wiegand-format")) + "=2"}, 0, withLength),
        "");
    EXPECT_EQ(withLength.target.output[kOutputLength], 2);
}

TEST(SettingsTable, AFailedPlanLeavesNothingNamed) {
    ChangePlan plan;
    EXPECT_NE(Plan({"buzzer=on", "power=99"}, 0, plan), "");
    ChangePlan fresh;
    EXPECT_EQ(Plan({"buzzer=on"}, 0, fresh), "");
    EXPECT_THAT(fresh.commands, ElementsAre(SettingCommand::kBuzzer));
}

TEST(SettingsTable, ShownSettingsDependOnTheReaderKind) {
    const auto names = [](uint8_t kind) {
        std::vector<std::string> shown;
        for (const Setting* setting : SettingsFor(kind)) {
            shown.emplace_back(setting->name);
        }
        return shown;
    };
    EXPECT_THAT(names(0), ::testing::Contains("frequency"));
    EXPECT_THAT(names(0), ::testing::Not(::testing::Contains("channels")));
    EXPECT_THAT(names(2), ::testing::Contains("channels"));
    EXPECT_THAT(names(2), ::testing::Not(::testing::Contains("band")));
    EXPECT_EQ(names(0).size(), AllSettings().size() - 1);
}

TEST(SettingsTable, FormatsUnexpectedReaderValuesPlainly) {
    ReaderSettings odd = Current();
    odd.workMode = 7;
    odd.wiegandFormat = 0;
    odd.frequency = {4, 865000, 0, 500, 6};
    EXPECT_EQ(FindSetting("work-mode")->format(odd), "unknown (7)");
    EXPECT_EQ(FindSetting("wiegand-format")->format(odd), "unknown (0)");
    EXPECT_EQ(FindSetting("frequency")->format(odd), "865000-868000");
    EXPECT_EQ(FindSetting("band")->format(odd), "etsi");
    EXPECT_EQ(FindSetting("nonsense"), nullptr);
}

TEST(SettingsTable, WriteSequenceRepeatsTheIntervalAfterTheOutputSettings) {
    using C = SettingCommand;
    struct Case {
        std::vector<C> planned;
        std::vector<C> writes;
    };
    const std::vector<Case> cases{
        {{C::kPower, C::kWiegandInterval, C::kOutputBytes, C::kPower},
         {C::kWiegandInterval, C::kOutputBytes, C::kWiegandInterval, C::kPower}},
        {{C::kOutputBytes}, {C::kOutputBytes}},
        {{C::kWiegandInterval, C::kBuzzer}, {C::kWiegandInterval, C::kBuzzer}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WriteSequence(c.planned), c.writes);
    }
    // Reads go in the order of the tool's Connect.
    EXPECT_THAT(ReadOrder(), ElementsAre(C::kBuzzer, C::kWorkMode, C::kTriggerTime, C::kWiegandInterval,
                                         C::kOutputBytes, C::kWiegandFormat, C::kPassword, C::kReadInterval,
                                         C::kPower, C::kAddress, C::kFrequency));
}

TEST(SettingsTable, PlanOfAllSettingsChecksEveryValueOfTheKind) {
    ReaderSettings settings = Current();
    settings.wiegandInterval = 2;
    settings.triggerTime = 3;
    settings.output = {0, 8, 4, 1};
    settings.wiegandFormat = 0x34;
    ChangePlan plan;
    ASSERT_EQ(PlanAllSettings(0, settings, plan), "");
    EXPECT_EQ(plan.commands.size(), 11u);
    EXPECT_EQ(plan.target.output, (OutputBytes{0, 8, 4, 1}));
    EXPECT_EQ(plan.target.frequency, (FrequencyPlan{4, 902000, 928000, 500, 52}));
    EXPECT_TRUE(Mismatches(plan, plan.target).empty());

    struct Case {
        uint8_t kind;
        void (*change)(ReaderSettings&);
        const char* error;
    };
    const std::vector<Case> cases{
        {0, [](ReaderSettings& s) { s.triggerTime = 255; }, "trigger-time must be a number from 1 to 254"},
        {0, [](ReaderSettings& s) { s.workMode = 7; },
         "work-mode must be always or trigger, got \"unknown (7)\""},
        {1, [](ReaderSettings& s) { s.power = 33; }, "from 18 to 26"},
        {0, [](ReaderSettings& s) { s.output[kOutputStart] = 10; }, "runs past the 12 EPC bytes"},
        {0, [](ReaderSettings& s) { s.frequency.first = 902100; }, "500 kHz apart"},
        {2,
         [](ReaderSettings& s) {
             s.frequency = {5, 0, 63, 0, 0};
         },
         "each from 1 to 63"},
    };
    for (const Case& c : cases) {
        ReaderSettings wrong = settings;
        c.change(wrong);
        EXPECT_THAT(PlanAllSettings(c.kind, wrong, plan), HasSubstr(c.error)) << c.error;
    }
    // A kind without a power range gets no power write, as the tool does.
    settings.power = 99;
    ASSERT_EQ(PlanAllSettings(3, settings, plan), "");
    EXPECT_THAT(plan.commands, ::testing::Not(::testing::Contains(SettingCommand::kPower)));
    settings.power = 63;
    settings.frequency = {5, 1, 63, 0, 0};
    ASSERT_EQ(PlanAllSettings(2, settings, plan), "");
    EXPECT_EQ(plan.target.frequency, ChannelPlan(1, 63));
}

TEST(SettingsTable, MismatchesNameWhatReadsBackOtherwise) {
    ChangePlan plan;
    ASSERT_EQ(Plan({"power=20", "buzzer=on", "frequency=865000-866000"}, 0, plan), "");
    ReaderSettings readBack = plan.target;
    readBack.power = 18;
    readBack.frequency.span = 3;
    EXPECT_THAT(Mismatches(plan, readBack),
                ElementsAre("power was set to 20 but reads back as 18",
                            "frequency was set to 865000-866000 but reads back as 865000-866500"));
}

TEST(SettingsJson, TheObjectOfConfigJson) {
    ReaderSettings settings = Current();
    settings.buzzer = 1;
    settings.password = {0x0A, 0x1B, 0x2C, 0x3D};
    settings.frequency = {5, 1, 63, 0, 0};
    settings.wiegandFormat = 0;  // a numeric setting the reader reports oddly stays text
    EXPECT_EQ(SettingsJson(2, settings),
              "{\n"
              "  \"reader-kind\": 2,\n"
              "  \"buzzer\": \"on\",\n"
              "  \"work-mode\": \"always\",\n"
              "  \"trigger-time\": 0,\n"
              "  \"wiegand-interval\": 0,\n"
              "  \"wiegand-format\": \"unknown (0)\",\n"
              "  \"output-start\": 9,\n"
              "  \"output-length\": 3,\n"
              "  \"output-order\": \"forward\",\n"
              "  \"password\": \"0a1b2c3d\",\n"
              "  \"password-check\": \"off\",\n"
              "  \"address\": 0,\n"
              "  \"read-interval\": 0,\n"
              "  \"power\": 33,\n"
              "  \"channels\": \"1-63\"\n"
              "}");
    const std::vector<const Setting*> some{FindSetting("frequency"), FindSetting("band")};
    settings.frequency = {4, 865000, 0, 500, 6};
    EXPECT_EQ(SettingsJson(0, some, settings),
              "{\n  \"reader-kind\": 0,\n  \"frequency\": \"865000-868000\",\n  \"band\": \"etsi\"\n}");
}

// What a form offers per setting, for the reader's kind: the power's range follows the kind, the
// choices are the words `zendrik set` takes, a setting shown only is not settable, and every
// value the schema offers is one the table takes.
TEST(SettingsJson, TheSchemaOfAKindsSettings) {
    const std::string kind1 = SettingsSchemaJson(1);
    EXPECT_THAT(kind1, HasSubstr(R"({"reader-kind":{"type":"integer","settable":false},)"
                                 R"("buzzer":{"type":"choice","choices":["on","off"]},)"));
    EXPECT_THAT(kind1, HasSubstr(R"("trigger-time":{"type":"integer","min":1,"max":254,"hint":"seconds"})"));
    EXPECT_THAT(kind1, HasSubstr(R"("power":{"type":"integer","min":18,"max":26})"));
    EXPECT_THAT(kind1, HasSubstr(R"("wiegand-format":{"type":"choice","choices":["26","34"]})"));
    EXPECT_THAT(kind1, HasSubstr(R"("password":{"type":"text","hint":"8 hexadecimal digits"})"));
    EXPECT_THAT(kind1, HasSubstr(R"x("band":{"type":"text","hint":"fcc|etsi (follows from frequency)",)x"
                                 R"("settable":false})"));
    EXPECT_THAT(SettingsSchemaJson(2), HasSubstr(R"("channels":{"type":"text",)"));
    EXPECT_THAT(SettingsSchemaJson(2), Not(HasSubstr("frequency")));
    EXPECT_THAT(SettingsSchemaJson(7), HasSubstr(R"("power":{"type":"integer","settable":false})"));
    // The output bytes are checked against the EPC window together: the other one goes along.
    const auto assignments = [](const Setting& setting, std::string_view value) {
        std::vector<std::string> list{std::string(setting.name) + "=" + std::string(value)};
        list.push_back(setting.name == "output-start" ? "output-length=1" : "output-start=0");
        return list;
    };
    for (const Setting& setting : AllSettings()) {
        SCOPED_TRACE(std::string(setting.name));
        ChangePlan plan;
        if (setting.domain.type == SettingDomain::Type::kChoice) {
            for (const std::string_view word : setting.domain.choices) {
                EXPECT_THAT(Plan(assignments(setting, word), 0, plan), IsEmpty());
            }
        } else if (const auto range = setting.domain.range ? setting.domain.range(0) : std::nullopt) {
            for (const int32_t edge : {range->min, range->max}) {
                EXPECT_THAT(Plan(assignments(setting, std::to_string(edge)), 0, plan), IsEmpty());
            }
        }
    }
}

}  // namespace
}  // namespace zendrik::rules
