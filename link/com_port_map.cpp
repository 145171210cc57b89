#include "link/com_port_map.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace zendrik {
namespace {

struct DeviceRange {
    int firstIndex;
    int count;
    const char* prefix;
};

constexpr std::array<DeviceRange, 4> kDeviceRanges{{
    {0, 4, "/dev/ttyS"},
    {4, 8, "/dev/ttyUSB"},
    {12, 4, "/dev/ttyACM"},
    {16, 4, "/dev/ttyAMA"},
}};

constexpr std::array<int32_t, 8> kAcceptedBauds{1200, 9600, 14400, 19200, 28800, 38400, 57600, 115200};

constexpr int32_t kSlowestBaud = 4800;
constexpr int32_t kSlowBaud = 9600;
constexpr int32_t kMediumBaudLimit = 22800;
constexpr Milliseconds kTimeoutSlowest{600};
constexpr Milliseconds kTimeoutSlow{500};
constexpr Milliseconds kTimeoutMedium{200};
constexpr Milliseconds kTimeoutFast{150};

}  // namespace

int NormaliseComIndex(int32_t index) { return (index >= 0 && index < kComPortCount) ? index : 0; }

std::string ComDevicePath(int32_t index) {
    const int normalised = NormaliseComIndex(index);
    const std::string overrideName = "ZENDRIK_COM" + std::to_string(normalised + 1);
    if (const char* overridden = std::getenv(overrideName.c_str()); overridden != nullptr && *overridden != '\0') {
        return overridden;
    }
    for (const DeviceRange& range : kDeviceRanges) {
        if (normalised >= range.firstIndex && normalised < range.firstIndex + range.count) {
            return range.prefix + std::to_string(normalised - range.firstIndex);
        }
    }
    return {};  // unreachable: the ranges cover every normalised index
}

int32_t EffectiveBaud(int32_t requested) {
    return std::ranges::find(kAcceptedBauds, requested) != kAcceptedBauds.end() ? requested : kFallbackBaud;
}

Milliseconds PerByteReadTimeout(int32_t requested) {
    if (requested == kSlowestBaud) {
        return kTimeoutSlowest;
    }
    if (requested == kSlowBaud) {
        return kTimeoutSlow;
    }
    return requested <= kMediumBaudLimit ? kTimeoutMedium : kTimeoutFast;
}

}  // namespace zendrik
