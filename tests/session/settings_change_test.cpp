// Settings as a whole on a session's link, in simulated time: the configuration tool's write
// order, the read-back check and the factory-default sequence, against the virtual reader's model.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zendrik/zendrik_session.h"
#include "link/frame.h"
#include "rules/settings_table.h"
#include "session/settings_change.h"
#include "sim/reply.h"
#include "tests/session/fake_usb_session.h"

namespace zendrik::session {
namespace {

using Bytes = std::vector<uint8_t>;

class SettingsChangeTest : public ::testing::Test, public testing::FakeUsbSession {
  protected:
    void Connect(uint8_t kind) {
        reader.Reset(kind);
        ASSERT_EQ(session->Connect(), ZENDRIK_OK);
        reader.ClearRequests();
    }

    // The standard-frame commands the reader received, in order, from the first of `codes` on.
    std::vector<uint8_t> Received(const std::vector<uint8_t>& codes) const {
        std::vector<uint8_t> received;
        for (const sim::LoggedRequest& logged : reader.requests()) {
            if (std::find(codes.begin(), codes.end(), logged.request.command) != codes.end()) {
                received.push_back(logged.request.command);
            }
        }
        return received;
    }
};

// The set commands of the settings record, and the reset.
const std::vector<uint8_t> kSets{0xDE, 0xE0, 0xE2, 0xE4, 0xE6, 0xEA, 0xEC, 0xEE, 0xF0, 0xF2, 0xF7, 0xF8};

TEST_F(SettingsChangeTest, EverySettingIsWrittenInTheToolsSaveOrderAndReadBack) {
    Connect(0);
    rules::ReaderSettings current;
    ASSERT_EQ(ReadSettings(*session, current).result, ZENDRIK_OK);
    current.power = 20;
    current.frequency = rules::BandPlan(865000, 868000);
    rules::ChangePlan plan;
    ASSERT_EQ(rules::PlanAllSettings(0, current, plan), "");
    reader.ClearRequests();
    const ChangeOutcome outcome = ApplyPlan(*session, plan);
    EXPECT_EQ(outcome.result, ZENDRIK_OK) << outcome.message;
    // Interval, buzzer, trigger time, work mode, Wiegand format, output settings, the interval once
    // more, password, address, read interval, frequency plan, power.
    EXPECT_EQ(Received(kSets),
              (std::vector<uint8_t>{0xE4, 0xEC, 0xDE, 0xEA, 0xE2, 0xE6, 0xE4, 0xEE, 0xF8, 0xE0, 0xF2, 0xF0}));
    EXPECT_EQ(reader.settings().outputPower, 20);
}

TEST_F(SettingsChangeTest, AReaderThatKeepsAnotherValueFailsTheReadBack) {
    Connect(0);
    // The reader says yes to the buzzer but keeps it on.
    intercept = [](std::span<const uint8_t> request) -> std::optional<Bytes> {
        if (request[kOffsetCommand] == command::kSetBuzzer) {
            return BuildStandardFrame(kBroadcastAddress, kStatusOk, {});
        }
        return std::nullopt;
    };
    rules::ReaderSettings current;
    ASSERT_EQ(ReadSettings(*session, current).result, ZENDRIK_OK);
    rules::ChangePlan plan;
    ASSERT_EQ(rules::PlanChanges(std::vector<std::string>{"buzzer=off", "power=30"}, 0, current, plan), "");
    const ChangeOutcome outcome = ApplyPlan(*session, plan);
    EXPECT_EQ(outcome.result, ZENDRIK_ERR_VERIFY);
    EXPECT_EQ(outcome.message, "buzzer was set to off but reads back as on");
    EXPECT_EQ(reader.settings().outputPower, 30) << "the writes after it were made";
}

TEST_F(SettingsChangeTest, AFailedReadNamesTheSetting) {
    Connect(0);
    reader.FailCommand(command::kGetWiegandOutBytes, sim::Fault::Status(sim::kStatusRefused));
    rules::ReaderSettings current;
    const ChangeOutcome outcome = ReadSettings(*session, current);
    EXPECT_EQ(outcome.result, ZENDRIK_ERR_STATUS);
    EXPECT_EQ(outcome.message,
              "cannot read the output settings: the reader refused the command or did not answer");
}

TEST_F(SettingsChangeTest, FactoryDefaultsFollowTheToolsSequenceForTheKind) {
    struct Case {
        uint8_t kind;
        std::vector<uint8_t> sets;
        uint8_t power;
    };
    const std::vector<uint8_t> common{0xF7, 0xF8, 0xE4, 0xDE, 0xE2, 0xEA};
    auto then = [&](std::vector<uint8_t> tail) {
        std::vector<uint8_t> all = common;
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    // Kinds 0 and 1 read the plan (0xF3) before writing their whole band; kind 2 writes channels.
    const std::vector<Case> cases{
        {0, then({0xF3, 0xF2, 0xF0}), 33},
        {1, then({0xF3, 0xF2, 0xF0}), 26},
        {2, then({0xF2, 0xF0}), 63},
    };
    for (const Case& c : cases) {
        Connect(c.kind);
        reader.ModifySettings([](sim::ReaderSettings& s) {
            s.outputPower = 20;
            s.address = 9;
        });
        const ChangeOutcome outcome = RestoreFactoryDefaults(*session);
        EXPECT_EQ(outcome.result, ZENDRIK_OK) << outcome.message;
        std::vector<uint8_t> wanted = c.sets;
        std::vector<uint8_t> codes = kSets;
        codes.push_back(0xF3);
        std::vector<uint8_t> received = Received(codes);
        // Only the first plan read counts: the writes read the plan and power back as well.
        received.erase(std::remove_if(received.begin() + static_cast<std::ptrdiff_t>(common.size()) + 1,
                                      received.end(), [](uint8_t code) { return code == 0xF3; }),
                       received.end());
        EXPECT_EQ(received, wanted) << int(c.kind);
        EXPECT_EQ(reader.settings().outputPower, c.power) << int(c.kind);
        EXPECT_EQ(reader.settings().address, 1) << int(c.kind);
    }
}

TEST_F(SettingsChangeTest, AFailingFactoryStepIsReportedAndTheOthersStillRun) {
    Connect(1);
    reader.FailCommand(command::kSetWiegandFormat, sim::Fault::Status(sim::kStatusRefused));
    const ChangeOutcome outcome = RestoreFactoryDefaults(*session);
    EXPECT_EQ(outcome.result, ZENDRIK_ERR_STATUS);
    EXPECT_EQ(outcome.message,
              "restoring the Wiegand format failed: the reader refused the command or did not answer");
    EXPECT_EQ(reader.settings().outputPower, 26);
}

}  // namespace
}  // namespace zendrik::session
