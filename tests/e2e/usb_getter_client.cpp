// A program of its own for the two-program test: opens the USB reader through the public header and
// reads one setting again and again, as a second program on the same reader would.
// Usage: usb_getter_client work-mode|trigger-time EXPECTED COUNT
// Exit status: 0 when every call returned EXPECTED, otherwise the number of calls that failed or
// returned something else (at most kMaxStatus), or kUsage for bad arguments.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "zendrik/zendrik.h"

namespace {

constexpr int kUsage = 125;
constexpr int kMaxStatus = 100;
constexpr uint8_t kAnyReader = 0xFF;
constexpr int32_t kUnusedBaud = 0;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        return kUsage;
    }
    const std::string_view setting = argv[1];
    int32_t (*get)(uint8_t, uint8_t*) = setting == "work-mode"      ? UhfGetWorkMode
                                        : setting == "trigger-time" ? UhfGetTriggerTime
                                                                    : nullptr;
    if (get == nullptr) {
        return kUsage;
    }
    const long expected = std::strtol(argv[2], nullptr, 0);
    const long count = std::strtol(argv[3], nullptr, 0);
    if (OpenCom(ZENDRIK_USB_PORT, kUnusedBaud) != ZENDRIK_OK) {
        return kUsage;
    }
    int wrong = 0;
    for (long call = 0; call < count; ++call) {
        uint8_t value = 0;
        const int32_t result = get(kAnyReader, &value);
        if (result != ZENDRIK_OK || value != expected) {
            std::fprintf(stderr, "%s: call %ld gave %d, value %d\n", argv[1], call, result, value);
            ++wrong;
        }
    }
    return std::min(wrong, kMaxStatus);
}
