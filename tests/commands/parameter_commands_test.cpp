#include <gtest/gtest.h>

#include <string>

#include "commands/parameter_command.h"
#include "commands/parameter_table.h"
#include "commands/password.h"
#include "tests/commands/reader_fixture.h"
#include "tests/support/untouched_byte.h"

namespace zendrik::testing {
namespace {

struct TableCase {
    const char* name;
    const ParameterCommand& command;
    uint8_t code;
    Sleeps firstWaits;  // the first wait of each attempt when every attempt is refused
};

// Every standard-frame parameter command of the table; output power has its own tests.
const std::vector<TableCase>& AllCommands() {
    static const std::vector<TableCase> cases{
        {"set work mode", parameter::kSetWorkMode, 0xEA, {10ms}},
        {"get work mode", parameter::kGetWorkMode, 0xEB, {10ms}},
        {"set buzzer", parameter::kSetBuzzer, 0xEC, {10ms}},
        {"get buzzer", parameter::kGetBuzzer, 0xED, {10ms}},
        {"set wiegand format", parameter::kSetWiegandFormat, 0xE2, {10ms}},
        {"get wiegand format", parameter::kGetWiegandFormat, 0xE3, {10ms, 10ms}},
        {"set trigger time", parameter::kSetTriggerTime, 0xDE, {10ms}},
        {"get trigger time", parameter::kGetTriggerTime, 0xDF, {10ms}},
        {"set wiegand interval", parameter::kSetWiegandInterval, 0xE4, {10ms}},
        {"get wiegand interval", parameter::kGetWiegandInterval, 0xE5, {10ms}},
        {"set read tag interval", parameter::kSetReadTagInterval, 0xE0, {10ms}},
        {"get read tag interval", parameter::kGetReadTagInterval, 0xE1, {10ms}},
        {"set wiegand out bytes", parameter::kSetWiegandOutBytes, 0xE6, {10ms, 10ms}},
        {"get wiegand out bytes", parameter::kGetWiegandOutBytes, 0xE7, {10ms, 10ms}},
        {"set password", parameter::kSetPassword, 0xEE, {10ms}},
        {"get password", parameter::kGetPassword, 0xEF, {10ms}},
        {"set address", parameter::kSetAddress, 0xF8, {100ms, 100ms}},
        {"get address", parameter::kGetAddress, 0xF9, {10ms, 100ms}},
        {"factory default", parameter::kFactoryDefault, 0xF7, {10ms, 10ms}},
    };
    return cases;
}

bool IsRetried(const ParameterCommand& command) {
    return command.family == ParameterFamily::kRetried;
}

Bytes RequestData(const ParameterCommand& command) {
    Bytes data(command.dataLength);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(0x11 * (i + 1));
    }
    return data;
}

struct Outcome {
    int32_t result;
    Bytes output;
};

Outcome RunCommand(ReaderFixture& reader, const ParameterCommand& command, uint8_t address = 0x05) {
    Bytes output(command.outputLength, kUntouched);
    const int32_t result = RunParameterCommand(reader.link, command, address, RequestData(command), output);
    return {result, output};
}

TEST(ParameterCommands, SendTheirCodeAndDataAndHandBackTheReplyData) {
    for (const TableCase& c : AllCommands()) {
        ReaderFixture reader;
        const Bytes replyData{0x21, 0x22, 0x23, 0x24, 0x25, 0x26};
        reader.Then(OkReply(replyData));
        const Outcome run = RunCommand(reader, c.command);
        EXPECT_EQ(run.result, ZENDRIK_OK) << c.name;
        ASSERT_EQ(reader.requests().size(), 1u) << c.name;
        EXPECT_EQ(reader.requests()[0], BuildStandardFrame(0x05, c.code, RequestData(c.command))) << c.name;
        EXPECT_EQ(run.output, Bytes(replyData.begin(), replyData.begin() + c.command.outputLength)) << c.name;
        const Sleeps afterSuccess = c.code == command::kFactoryDefault ? Sleeps{100ms} : Sleeps{};
        EXPECT_EQ(reader.sleeps(), Concat({Answered(c.firstWaits[0]), afterSuccess})) << c.name;
    }
}

TEST(ParameterCommands, RefusalsUseEveryAttemptAndLeaveTheOutputs) {
    for (const TableCase& c : AllCommands()) {
        ReaderFixture reader;
        reader.Otherwise([](const Bytes&) { return ReplyFrame(kRefused, {0x42, 0x42, 0x42, 0x42, 0x42}); });
        const Outcome run = RunCommand(reader, c.command);
        EXPECT_EQ(run.result, ZENDRIK_ERR_STATUS) << c.name;
        EXPECT_EQ(run.output, Bytes(c.command.outputLength, kUntouched)) << c.name;
        EXPECT_EQ(reader.sleeps(), c.firstWaits)
            << c.name << ": one exchange per attempt, no wait after failure";
        EXPECT_EQ(reader.requests().size(), c.firstWaits.size()) << c.name;
    }
}

TEST(ParameterCommands, TransportFailuresPassThroughPlainCommandsOnly) {
    for (const TableCase& c : AllCommands()) {
        ReaderFixture reader;  // silent: no reply within the USB poll window
        const Outcome run = RunCommand(reader, c.command);
        EXPECT_EQ(run.result, IsRetried(c.command) ? ZENDRIK_ERR_STATUS : ZENDRIK_ERR_BAD_REPLY) << c.name;
        EXPECT_EQ(run.output, Bytes(c.command.outputLength, kUntouched)) << c.name;
        Sleeps expected;
        for (const Milliseconds firstWait : c.firstWaits) {
            expected = Concat({expected, Unanswered(firstWait)});
        }
        EXPECT_EQ(reader.sleeps(), expected) << c.name;
    }
}

TEST(ParameterCommands, ARetrySucceedsWithTheLaterReplysData) {
    for (const TableCase& c : AllCommands()) {
        if (!IsRetried(c.command)) {
            continue;
        }
        const Bytes later{0x31, 0x32, 0x33, 0x34};
        for (const bool firstSilent : {false, true}) {
            ReaderFixture reader;
            firstSilent ? reader.ThenSilence() : reader.ThenRefusal();
            reader.Then(OkReply(later));
            const Outcome run = RunCommand(reader, c.command);
            EXPECT_EQ(run.result, ZENDRIK_OK) << c.name;
            EXPECT_EQ(run.output, Bytes(later.begin(), later.begin() + c.command.outputLength)) << c.name;
            EXPECT_EQ(reader.requests().size(), 2u) << c.name;
        }
    }
}

TEST(ParameterCommands, RepliesTooLongForTheBufferFailByFamily) {
    // Over UDP a reply may announce up to 255 data bytes; the 128-byte reply buffer takes 120.
    const Bytes oversized = ReplyFrame(kStatusOk, Bytes(121, 0x01));
    for (const TableCase& c : AllCommands()) {
        ReaderFixture reader;
        reader.link.set_type(LinkType::kUdp);
        reader.udp->answer = oversized;
        const Outcome run = RunCommand(reader, c.command);
        EXPECT_EQ(run.result, IsRetried(c.command) ? ZENDRIK_ERR_STATUS : ZENDRIK_ERR_BAD_REPLY) << c.name;
        EXPECT_EQ(run.output, Bytes(c.command.outputLength, kUntouched)) << c.name;
    }
}

TEST(ParameterCommands, WorkedRequestsMatchByteForByte) {
    ReaderFixture reader;
    reader.Otherwise([](const Bytes&) { return OkReply({0x00}); });
    uint8_t mode = 0;
    ASSERT_EQ(RunParameterCommand(reader.link, parameter::kGetWorkMode, 0, {}, std::span(&mode, 1)),
              ZENDRIK_OK);
    const uint8_t one = 1;
    ASSERT_EQ(RunParameterCommand(reader.link, parameter::kSetWorkMode, 0, std::span(&one, 1), {}),
              ZENDRIK_OK);
    EXPECT_EQ(reader.requests().at(0), (Bytes{0xAA, 0x00, 0xEB, 0x00, 0x00, 0x70, 0x34, 0x55}));
    EXPECT_EQ(reader.requests().at(1), (Bytes{0xAA, 0x00, 0xEA, 0x01, 0x00, 0x01, 0xA4, 0x18, 0x55}));
    const Bytes settings{1, 2, 3, 4};
    ASSERT_EQ(RunParameterCommand(reader.link, parameter::kSetWiegandOutBytes, 0, settings, {}), ZENDRIK_OK);
    EXPECT_EQ(reader.requests().at(2).size(), 12u);
}

TEST(Password, TravelsAsFlagThenTheFourBytesInMemoryOrderBothWays) {
    ReaderFixture reader;
    Bytes stored;
    // A reader that keeps the record it is given and hands it back.
    reader.Otherwise([&stored](const Bytes& request) {
        if (request[kOffsetCommand] == command::kSetPassword) {
            stored.assign(request.begin() + kOffsetData, request.end() - 3);
            return OkReply();
        }
        return OkReply(stored);
    });
    const std::array<uint8_t, kPasswordLength> password{0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(SetPassword(reader.link, 0xFF, 1, password), ZENDRIK_OK);
    const Bytes& sent = reader.requests().at(0);
    ASSERT_EQ(sent.size(), 13u);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 10),
              (Bytes{0xAA, 0xFF, 0xEE, 0x05, 0x00, 0x01, 0xDE, 0xAD, 0xBE, 0xEF}));

    uint8_t enable = 0;
    std::array<uint8_t, kPasswordLength> readBack{};
    ASSERT_EQ(GetPassword(reader.link, 0xFF, enable, readBack), ZENDRIK_OK);
    EXPECT_EQ(enable, 1);
    EXPECT_EQ(readBack, password);
}

TEST(Password, AFailedReadLeavesFlagAndBytes) {
    ReaderFixture reader;
    reader.ThenRefusal();
    uint8_t enable = kUntouched;
    std::array<uint8_t, kPasswordLength> password;
    password.fill(kUntouched);
    EXPECT_EQ(GetPassword(reader.link, 0xFF, enable, password), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(enable, kUntouched);
    EXPECT_EQ(password,
              (std::array<uint8_t, kPasswordLength>{kUntouched, kUntouched, kUntouched, kUntouched}));
}

}  // namespace
}  // namespace zendrik::testing
