// Several threads calling the shared library at once, each a different get over USB against the
// virtual reader. The library keeps one link; its lock keeps every reply with the call that asked
// for it. Also run under ThreadSanitizer (label "tsan").
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "zendrik/zendrik.h"
#include "sim/reader_settings.h"
#include "tests/e2e/served_reader.h"

namespace zendrik::e2e {
namespace {

constexpr int kCallsPerThread = 30;
constexpr uint8_t kWorkMode = 1;
constexpr uint8_t kWiegandFormat = 0x34;
constexpr uint8_t kTriggerTime = 9;
const std::array<uint8_t, 4> kWgOutBytes{1, 2, 6, 1};

struct Getter {
    const char* name;
    std::function<bool()> callAndCheck;  // true when the call succeeded with the reader's value
};

bool ByteIs(int32_t (*get)(uint8_t, uint8_t*), uint8_t expected) {
    uint8_t value = 0;
    return get(kAnyReader, &value) == ZENDRIK_OK && value == expected;
}

TEST(ConcurrentCalls, EveryThreadGetsTheAnswerToItsOwnRequest) {
    ServedReader served(LinkKind::kUsb);
    // Values that differ from each other, so that a reply taken by the wrong call shows.
    ASSERT_TRUE(served.reader().ModifySettings([](sim::ReaderSettings& settings) {
        settings.workMode = kWorkMode;
        settings.wiegandFormat = kWiegandFormat;
        settings.triggerTime = kTriggerTime;
        settings.wgOutBytes = kWgOutBytes;
    }));
    ASSERT_EQ(served.Connect(), ZENDRIK_OK);
    const std::vector<Getter> getters{
        {"work mode", [] { return ByteIs(UhfGetWorkMode, kWorkMode); }},
        {"Wiegand format", [] { return ByteIs(UhfGetWeigand, kWiegandFormat); }},
        {"trigger time", [] { return ByteIs(UhfGetTriggerTime, kTriggerTime); }},
        {"Wiegand output settings",
         [] {
             std::array<uint8_t, 4> settings{};
             return UhfGetWgOutByte(kAnyReader, settings.data()) == ZENDRIK_OK && settings == kWgOutBytes;
         }},
    };
    // Results are counted per thread and judged on this one, where the test framework runs.
    std::vector<std::atomic<int>> wrong(getters.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < getters.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int call = 0; call < kCallsPerThread; ++call) {
                if (!getters[i].callAndCheck()) {
                    ++wrong[i];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < getters.size(); ++i) {
        EXPECT_EQ(wrong[i].load(), 0)
            << getters[i].name << ": calls with a wrong result of " << kCallsPerThread;
    }
}

}  // namespace
}  // namespace zendrik::e2e
