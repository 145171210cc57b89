// Every reader setting written through the shared library and read back, on each link; identity,
// factory default and the short-frame records. The reader model is the judge of what arrived.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "sim/reader_settings.h"
#include "tests/e2e/on_each_link.h"
#include "tests/support/untouched_byte.h"
#include "zendrik/zendrik.h"

namespace zendrik::e2e {
namespace {

using sim::ReaderSettings;

// Outputs start as this byte, so that a get that writes nothing shows.
using zendrik::testing::kUntouched;

struct ByteSettingCase {
    const char* name;
    int32_t (*set)(uint8_t address, uint8_t value);
    int32_t (*get)(uint8_t address, uint8_t* value);
    uint8_t ReaderSettings::*member;
    uint8_t value;  // differs from the factory default of a kind 0 reader
};

// The set / get pairs of one byte. Power 20 lies in kind 0's range; the address is the reader's
// own, which the tool never uses to address it.
const std::array<ByteSettingCase, 8> kByteSettings{{
    {"work mode", UhfSetWorkMode, UhfGetWorkMode, &ReaderSettings::workMode, 1},
    {"buzzer", UhfSetBuzzer, UhfGetBuzzer, &ReaderSettings::buzzer, 0},
    {"Wiegand format", UhfSetWeigand, UhfGetWeigand, &ReaderSettings::wiegandFormat, 0x34},
    {"trigger time", UhfSetTriggerTime, UhfGetTriggerTime, &ReaderSettings::triggerTime, 9},
    {"Wiegand interval", UhfSetWgIntervalTime, UhfGetWgIntervalTime, &ReaderSettings::wiegandInterval, 7},
    {"tag read interval", UhfSetReadTagIntervalTime, UhfGetReadTagIntervalTime,
     &ReaderSettings::readTagInterval, 4},
    {"address", UhfSetAddress, UhfGetAddress, &ReaderSettings::address, 0x42},
    {"output power", UhfSetOutPower, UhfGetOutPower, &ReaderSettings::outputPower, 20},
}};

class Settings : public OnEachLink {};

TEST_P(Settings, EveryByteSettingIsWrittenAndReadBack) {
    HandshakeAndSettle();
    for (const ByteSettingCase& setting : kByteSettings) {
        SCOPED_TRACE(setting.name);
        ASSERT_NE(reader().settings().*setting.member, setting.value) << "the case must change something";
        EXPECT_EQ(setting.set(kAnyReader, setting.value), ZENDRIK_OK);
        EXPECT_EQ(reader().settings().*setting.member, setting.value);
        uint8_t readBack = kUntouched;
        EXPECT_EQ(setting.get(kAnyReader, &readBack), ZENDRIK_OK);
        EXPECT_EQ(readBack, setting.value);
    }
}

TEST_P(Settings, MultiByteRecordsKeepTheirMemoryOrder) {
    const std::array<uint8_t, 4> wgOut{1, 2, 6, 1};
    EXPECT_EQ(UhfSetWgOutByte(kAnyReader, wgOut.data()), ZENDRIK_OK);
    EXPECT_EQ(reader().settings().wgOutBytes, wgOut);
    std::array<uint8_t, 4> wgOutBack{};
    EXPECT_EQ(UhfGetWgOutByte(kAnyReader, wgOutBack.data()), ZENDRIK_OK);
    EXPECT_EQ(wgOutBack, wgOut);

    const std::array<uint8_t, 4> password{0x12, 0x34, 0xAB, 0xCD};
    EXPECT_EQ(UhfSetPassword(kAnyReader, 1, password.data()), ZENDRIK_OK);
    EXPECT_EQ(reader().settings().passwordEnabled, 1);
    EXPECT_EQ(reader().settings().password, password);
    uint8_t enabled = kUntouched;
    std::array<uint8_t, 4> passwordBack{};
    EXPECT_EQ(UhfGetPassword(kAnyReader, &enabled, passwordBack.data()), ZENDRIK_OK);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(passwordBack, password);
}

TEST_P(Settings, ValuesTheReaderRefusesFailAndChangeNothing) {
    const ReaderSettings before = reader().settings();
    EXPECT_EQ(UhfSetWorkMode(kAnyReader, 7), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(UhfSetWeigand(kAnyReader, 0x99), ZENDRIK_ERR_STATUS);
    // Above kind 0's range: three sends, three read-backs of the old power.
    EXPECT_EQ(UhfSetOutPower(kAnyReader, 60), ZENDRIK_ERR_VERIFY);
    EXPECT_EQ(reader().settings(), before);
}

TEST_P(Settings, FactoryDefaultRestoresEverySetting) {
    ASSERT_EQ(UhfSetBuzzer(kAnyReader, 0), ZENDRIK_OK);
    ASSERT_EQ(UhfSetTriggerTime(kAnyReader, 30), ZENDRIK_OK);
    const std::array<uint8_t, 4> wgOut{1, 0, 4, 1};
    ASSERT_EQ(UhfSetWgOutByte(kAnyReader, wgOut.data()), ZENDRIK_OK);
    ASSERT_NE(reader().settings(), sim::FactoryDefaults(reader().kind()));

    EXPECT_EQ(UhfFactoryDefault(kAnyReader), ZENDRIK_OK);
    EXPECT_EQ(reader().settings(), sim::FactoryDefaults(reader().kind()));
    uint8_t buzzer = kUntouched;
    EXPECT_EQ(UhfGetBuzzer(kAnyReader, &buzzer), ZENDRIK_OK);
    EXPECT_EQ(buzzer, sim::FactoryDefaults(reader().kind()).buzzer);
}

TEST_P(Settings, HandshakeVersionAndSerialNumberCarryTheReadersIdentity) {
    const sim::ReaderIdentity identity = reader().identity();
    uint8_t kind = kUntouched;
    uint8_t low = kUntouched;
    EXPECT_EQ(Handshake(kAnyReader, 1, &kind, &low), ZENDRIK_OK);
    EXPECT_EQ(kind, identity.kind);
    EXPECT_EQ(low, identity.lowValue);

    std::array<uint8_t, 50> version{};
    version.fill(kUntouched);
    EXPECT_EQ(Get_Version(kAnyReader, version.data()), ZENDRIK_OK);
    EXPECT_EQ(std::vector<uint8_t>(version.begin(), version.begin() + identity.version.size()),
              identity.version);
    EXPECT_EQ(version[identity.version.size()], kUntouched) << "no terminator is added";

    std::array<uint8_t, 50> serial{};
    EXPECT_EQ(Get_SerNum(kAnyReader, serial.data()), ZENDRIK_OK);
    EXPECT_EQ(std::vector<uint8_t>(serial.begin(), serial.begin() + identity.serialNumber.size()),
              identity.serialNumber);

    // The settle wait the handshake left is spent here; the value is the reader's all the same.
    uint8_t power = kUntouched;
    EXPECT_EQ(UhfGetOutPower(kAnyReader, &power), ZENDRIK_OK);
    EXPECT_EQ(power, reader().settings().outputPower);
}

struct ShortSetCase {
    const char* name;
    int32_t (*set)(int32_t unused, uint8_t value);
    uint8_t ReaderSettings::*member;
    uint8_t value;
};

const std::array<ShortSetCase, 4> kShortSets{{
    {"baud rate", UhfSetBaudRate, &ReaderSettings::baudRate, 3},
    {"antenna", UhfSetAntenna, &ReaderSettings::antenna, 2},
    {"time", UhfSetTime, &ReaderSettings::time, 9},
    {"LED", UhfSetLed, &ReaderSettings::led, 0},
}};

TEST_P(Settings, ShortFrameSettingsReachTheReader) {
    for (const ShortSetCase& setting : kShortSets) {
        SCOPED_TRACE(setting.name);
        ASSERT_NE(reader().settings().*setting.member, setting.value);
        EXPECT_EQ(setting.set(0, setting.value), ZENDRIK_OK);
        EXPECT_EQ(reader().settings().*setting.member, setting.value);
    }
    EXPECT_EQ(UhfReadFactoryParameter(), ZENDRIK_OK);
}

TEST_P(Settings, ShortFrameRecordsAreReadAndTheBasicBlockWrittenBack) {
    std::array<uint8_t, 5> config{};
    EXPECT_EQ(UhfGetConfig(0, config.data()), ZENDRIK_OK);
    EXPECT_EQ(config, reader().settings().config);
    std::array<uint8_t, 5> version{};
    EXPECT_EQ(UhfGetReaderVerison(version.data()), ZENDRIK_OK);
    EXPECT_EQ(version, reader().identity().versionRecord);

    std::array<uint8_t, 32> block{};
    ASSERT_EQ(UhfReadBasicParam(block.data()), ZENDRIK_OK);
    ASSERT_EQ(block, reader().settings().basicParams);
    // The first byte doubles as the reply's length and stays; the rest are the reader's to keep.
    for (std::size_t i = 2; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(0xA0 + i);
    }
    EXPECT_EQ(UhfWriteBasicParam(block.data()), ZENDRIK_OK);
    EXPECT_EQ(reader().settings().basicParams, block);
    std::array<uint8_t, 32> blockBack{};
    EXPECT_EQ(UhfReadBasicParam(blockBack.data()), ZENDRIK_OK);
    EXPECT_EQ(blockBack, block);
}

INSTANTIATE_TEST_SUITE_P(Links, Settings, kEveryLink, LinkParamName);

}  // namespace
}  // namespace zendrik::e2e
