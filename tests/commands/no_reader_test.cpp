#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "zendrik/zendrik.h"

namespace {

// The library's own link, before any link was opened, goes the USB way. The virtual HID device
// named here does not exist, so no reader answers, whatever hidraw devices the machine has.
class NoReader : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ::setenv("ZENDRIK_HID_SOCKET", "/nonexistent/zendrik-test-hid", 1); }
};

TEST_F(NoReader, HandshakeVersionAndSerialNumberReportTheStatusCode) {
    uint8_t kind = 9;
    uint8_t low = 9;
    std::array<uint8_t, 50> buffer{};
    EXPECT_EQ(Handshake(0xFF, 1, &kind, &low), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(kind, 9);
    EXPECT_EQ(Get_Version(0xFF, buffer.data()), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(Get_SerNum(0xFF, buffer.data()), ZENDRIK_ERR_STATUS);
}

TEST_F(NoReader, CommandsReportTheirFamilysFailure) {
    uint8_t byte = 7;
    std::array<uint8_t, 16> data{};
    // Plain and short-frame commands pass the exchange's code on; retried ones say -130.
    EXPECT_NE(UhfGetWorkMode(0xFF, &byte), ZENDRIK_OK);
    EXPECT_NE(UhfGetWorkMode(0xFF, &byte), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(UhfGetWeigand(0xFF, &byte), ZENDRIK_ERR_STATUS);
    EXPECT_NE(UhfGetConfig(0, data.data()), ZENDRIK_OK);
    EXPECT_NE(UhfReadTag(0xFF, data.data(), &byte), ZENDRIK_OK);
    EXPECT_EQ(byte, 7);
}

TEST_F(NoReader, MissingBuffersAreRefused) {
    EXPECT_EQ(Handshake(0xFF, 1, nullptr, nullptr), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(Get_Version(0xFF, nullptr), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(UhfGetWorkMode(0xFF, nullptr), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(UhfSetPassword(0xFF, 1, nullptr), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(UhfGetConfig(0, nullptr), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(UhfReadTag(0xFF, nullptr, nullptr), ZENDRIK_ERR_STATUS);
    EXPECT_EQ(UhfGetFrequencyRegion(0xFF, nullptr, nullptr, nullptr, nullptr, nullptr), ZENDRIK_ERR_STATUS);
}

}  // namespace
