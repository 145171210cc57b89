#include "link/com_port_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "zendrik/zendrik.h"
#include "tests/link/serial_test_env.h"

namespace zendrik {
namespace {

using testing::ScopedEnv;

TEST(ComPortMap, MapsEachIndexToItsLinuxDevice) {
    const std::vector<std::pair<int32_t, std::string>> cases{
        {0, "/dev/ttyS0"},    {3, "/dev/ttyS3"},         {4, "/dev/ttyUSB0"},  {8, "/dev/ttyUSB4"},
        {9, "/dev/ttyUSB5"},  {11, "/dev/ttyUSB7"},      {12, "/dev/ttyACM0"}, {15, "/dev/ttyACM3"},
        {16, "/dev/ttyAMA0"}, {19, "/dev/ttyAMA3"},      {20, "/dev/ttyS0"},   {-1, "/dev/ttyS0"},
        {100, "/dev/ttyS0"},  {INT32_MIN, "/dev/ttyS0"},
    };
    for (const auto& [index, device] : cases) {
        EXPECT_EQ(ComDevicePath(index), device) << "index " << index;
    }
}

TEST(ComPortMap, EnvironmentOverrideReplacesTheDeviceOfItsComNumber) {
    const ScopedEnv com10("ZENDRIK_COM10", "/dev/serial/by-id/usb-reader");
    const ScopedEnv com1("ZENDRIK_COM1", "/dev/pts/42");
    EXPECT_EQ(ComDevicePath(9), "/dev/serial/by-id/usb-reader");
    EXPECT_EQ(ComDevicePath(8), "/dev/ttyUSB4");
    // Out-of-range indexes mean COM1, and so take COM1's override.
    EXPECT_EQ(ComDevicePath(0), "/dev/pts/42");
    EXPECT_EQ(ComDevicePath(20), "/dev/pts/42");
    EXPECT_EQ(ComDevicePath(-1), "/dev/pts/42");
}

TEST(ComPortMap, EmptyOverrideKeepsTheDefaultDevice) {
    const ScopedEnv com20("ZENDRIK_COM20", "");
    EXPECT_EQ(ComDevicePath(19), "/dev/ttyAMA3");
}

struct SpeedCase {
    int32_t requested;
    int32_t opened;
    Milliseconds perByte;
};

TEST(ComPortMap, ChoosesLineSpeedAndPerByteTimeoutFromTheRequestedSpeed) {
    const std::vector<SpeedCase> cases{
        {4800, 9600, Milliseconds{600}},   {9600, 9600, Milliseconds{500}},
        {1200, 1200, Milliseconds{200}},   {2400, 9600, Milliseconds{200}},
        {14400, 14400, Milliseconds{200}}, {19200, 19200, Milliseconds{200}},
        {22800, 9600, Milliseconds{200}},  {22801, 9600, Milliseconds{150}},
        {28800, 28800, Milliseconds{150}}, {38400, 38400, Milliseconds{150}},
        {57600, 57600, Milliseconds{150}}, {115200, 115200, Milliseconds{150}},
        {0, 9600, Milliseconds{200}},      {-9600, 9600, Milliseconds{200}},
    };
    for (const SpeedCase& c : cases) {
        EXPECT_EQ(EffectiveBaud(c.requested), c.opened) << c.requested;
        EXPECT_EQ(PerByteReadTimeout(c.requested), c.perByte) << c.requested;
    }
}

TEST(GetComDevicePath, WritesThePathOnlyWhenItFits) {
    constexpr char kUntouched = '#';
    const std::string device = "/dev/ttyUSB4";  // index 8, COM9
    const int32_t needed = static_cast<int32_t>(device.size() + 1);
    struct Case {
        const char* name;
        int32_t size;
        int32_t result;
    };
    const std::vector<Case> cases{
        {"exact fit", needed, ZENDRIK_OK},
        {"room to spare", 64, ZENDRIK_OK},
        {"no room for the terminating zero", needed - 1, ZENDRIK_ERR_PORT_OPEN},
        {"size zero", 0, ZENDRIK_ERR_PORT_OPEN},
        {"negative size", -1, ZENDRIK_ERR_PORT_OPEN},
    };
    for (const Case& c : cases) {
        std::array<char, 64> path{};
        path.fill(kUntouched);
        EXPECT_EQ(GetComDevicePath(8, path.data(), c.size), c.result) << c.name;
        if (c.result == ZENDRIK_OK) {
            EXPECT_STREQ(path.data(), device.c_str()) << c.name;
            EXPECT_EQ(path[device.size() + 1], kUntouched) << c.name;
        } else {
            EXPECT_TRUE(std::all_of(path.begin(), path.end(), [](char ch) { return ch == kUntouched; }))
                << c.name;
        }
    }
}

TEST(GetComDevicePath, RefusesANullPathAndHonoursTheOverride) {
    EXPECT_EQ(GetComDevicePath(0, nullptr, 64), ZENDRIK_ERR_PORT_OPEN);
    const ScopedEnv com3("ZENDRIK_COM3", "/dev/pts/9");
    std::array<char, 32> path{};
    ASSERT_EQ(GetComDevicePath(2, path.data(), static_cast<int32_t>(path.size())), ZENDRIK_OK);
    EXPECT_STREQ(path.data(), "/dev/pts/9");
}

}  // namespace
}  // namespace zendrik
