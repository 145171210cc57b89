// The configuration tool's Connect, as a program linked to the shared library makes it: open the
// USB reader, handshake, read the configuration back in the tool's order, and show what the reader
// holds; then the Disconnect.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "zendrik/zendrik.h"
#include "sim/reader_settings.h"
#include "tests/e2e/served_reader.h"

namespace zendrik::e2e {
namespace {

// Command codes in the order a Connect sends them: the handshake, then the 13 read-backs.
const std::vector<uint8_t> kConnectCommands{0xDC, 0xED, 0xEB, 0xDF, 0xE5, 0xE7, 0xE3,
                                            0xEF, 0xE1, 0xF1, 0xDD, 0xFA, 0xF9, 0xF3};

// Settings no factory leaves a reader with, so that every value read back is the reader's own.
sim::ReaderSettings ConfiguredSettings() {
    sim::ReaderSettings settings = sim::FactoryDefaults(sim::kKindStandard);
    settings.buzzer = 0;
    settings.workMode = 1;
    settings.triggerTime = 12;
    settings.wiegandInterval = 5;
    settings.wgOutBytes = {1, 8, 4, 1};
    settings.wiegandFormat = 0x34;
    settings.passwordEnabled = 1;
    settings.password = {0xDE, 0xAD, 0xBE, 0xEF};
    settings.readTagInterval = 3;
    settings.outputPower = 27;
    settings.address = 0x21;
    settings.planA = {sim::kRegionEtsiFromChannel0, 4, 10, 0, 0, 0};
    return settings;
}

// What the tool's window shows after a Connect.
struct Configuration {
    uint8_t kind = 0xEE, low = 0xEE;
    uint8_t buzzer = 0xEE, workMode = 0xEE, triggerTime = 0xEE, wiegandInterval = 0xEE;
    std::array<uint8_t, 4> wgOut{};
    uint8_t wiegandFormat = 0xEE, passwordEnabled = 0xEE;
    std::array<uint8_t, 4> password{};
    uint8_t readTagInterval = 0xEE, power = 0xEE;
    std::array<uint8_t, 50> version{}, serialNumber{};
    uint8_t address = 0xEE, region = 0xEE, span = 0xEE;
    int32_t first = -1, second = -1, step = -1;
};

// Each read-back must succeed here; the tool itself stops after three failures.
void ReadConfiguration(Configuration& c) {
    EXPECT_EQ(UhfGetBuzzer(kAnyReader, &c.buzzer), ZENDRIK_OK);
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &c.workMode), ZENDRIK_OK);
    EXPECT_EQ(UhfGetTriggerTime(kAnyReader, &c.triggerTime), ZENDRIK_OK);
    EXPECT_EQ(UhfGetWgIntervalTime(kAnyReader, &c.wiegandInterval), ZENDRIK_OK);
    EXPECT_EQ(UhfGetWgOutByte(kAnyReader, c.wgOut.data()), ZENDRIK_OK);
    EXPECT_EQ(UhfGetWeigand(kAnyReader, &c.wiegandFormat), ZENDRIK_OK);
    EXPECT_EQ(UhfGetPassword(kAnyReader, &c.passwordEnabled, c.password.data()), ZENDRIK_OK);
    EXPECT_EQ(UhfGetReadTagIntervalTime(kAnyReader, &c.readTagInterval), ZENDRIK_OK);
    EXPECT_EQ(UhfGetOutPower(kAnyReader, &c.power), ZENDRIK_OK);  // takes the 1100 ms settle wait
    EXPECT_EQ(Get_Version(kAnyReader, c.version.data()), ZENDRIK_OK);
    EXPECT_EQ(Get_SerNum(kAnyReader, c.serialNumber.data()), ZENDRIK_OK);
    EXPECT_EQ(UhfGetAddress(kAnyReader, &c.address), ZENDRIK_OK);
    EXPECT_EQ(UhfGetFrequencyRegion(kAnyReader, &c.region, &c.first, &c.second, &c.step, &c.span),
              ZENDRIK_OK);
}

TEST(ConnectSequence, OverTheVirtualHidDeviceShowsWhatTheReaderHolds) {
    ServedReader served(LinkKind::kUsb);
    sim::Reader& reader = served.reader();
    const sim::ReaderSettings settings = ConfiguredSettings();
    ASSERT_TRUE(reader.SetSettings(settings));
    const sim::ReaderIdentity identity = reader.identity();

    ASSERT_EQ(served.Connect(), ZENDRIK_OK);
    Configuration shown;
    ASSERT_EQ(Handshake(kAnyReader, 1, &shown.kind, &shown.low), ZENDRIK_OK);
    ReadConfiguration(shown);

    EXPECT_EQ(shown.kind, identity.kind);
    EXPECT_EQ(shown.low, identity.lowValue);
    EXPECT_EQ(shown.buzzer, settings.buzzer);
    EXPECT_EQ(shown.workMode, settings.workMode);
    EXPECT_EQ(shown.triggerTime, settings.triggerTime);
    EXPECT_EQ(shown.wiegandInterval, settings.wiegandInterval);
    EXPECT_EQ(shown.wgOut, settings.wgOutBytes);
    EXPECT_EQ(shown.wiegandFormat, settings.wiegandFormat);
    EXPECT_EQ(shown.passwordEnabled, settings.passwordEnabled);
    EXPECT_EQ(shown.password, settings.password);
    EXPECT_EQ(shown.readTagInterval, settings.readTagInterval);
    EXPECT_EQ(shown.power, settings.outputPower);
    EXPECT_EQ(std::vector<uint8_t>(shown.version.begin(), shown.version.begin() + identity.version.size()),
              identity.version);
    EXPECT_EQ(std::vector<uint8_t>(shown.serialNumber.begin(),
                                   shown.serialNumber.begin() + identity.serialNumber.size()),
              identity.serialNumber);
    EXPECT_EQ(shown.address, settings.address);
    // Region 2, channels 4 to 10: 867 MHz on, six 500 kHz steps, shown as a free plan.
    EXPECT_EQ(shown.region, 4);
    EXPECT_EQ(shown.first, 867000);
    EXPECT_EQ(shown.step, 500);
    EXPECT_EQ(shown.span, 6);

    std::vector<uint8_t> commands;
    for (const sim::LoggedRequest& logged : reader.requests()) {
        EXPECT_EQ(logged.request.address, kAnyReader);
        commands.push_back(logged.request.command);
    }
    EXPECT_EQ(commands, kConnectCommands);

    // Disconnect: the closing handshake, then CloseCom, which has no serial port to close.
    uint8_t kind = 0xEE;
    uint8_t low = 0xEE;
    EXPECT_EQ(Handshake(kAnyReader, 0, &kind, &low), ZENDRIK_OK);
    EXPECT_EQ(CloseCom(), ZENDRIK_ERR_PORT_NOT_OPEN);
}

}  // namespace
}  // namespace zendrik::e2e
