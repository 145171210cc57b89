#include "link/serial_byte_read.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "tests/support/fake_clock.h"

namespace zendrik {
namespace {

using testing::FakeClock;

struct ByteReadCase {
    const char* name;
    Milliseconds perByte;
    std::optional<Milliseconds> arrival;  // when the byte reaches the port; nothing: never
    bool received;
    Milliseconds elapsed;  // simulated time when the read returns
    int tries;
};

// Each try waits until its deadline or the byte, whichever comes first, as a poll on the line does.
TEST(SerialByteRead, GivesUpAfterTheFewestPerByteTimeoutsThatExceedTheGap) {
    constexpr uint8_t kByte = 0x5A;
    const std::vector<ByteReadCase> cases{
        {"150 ms per byte, silent", Milliseconds{150}, std::nullopt, false, Milliseconds{300}, 2},
        {"200 ms per byte, silent", Milliseconds{200}, std::nullopt, false, Milliseconds{400}, 2},
        {"500 ms per byte, silent", Milliseconds{500}, std::nullopt, false, Milliseconds{500}, 1},
        {"600 ms per byte, silent", Milliseconds{600}, std::nullopt, false, Milliseconds{600}, 1},
        {"200 ms per byte, byte in the second try", Milliseconds{200}, Milliseconds{350}, true,
         Milliseconds{350}, 2},
        {"150 ms per byte, byte at the very end", Milliseconds{150}, Milliseconds{300}, true,
         Milliseconds{300}, 2},
        {"150 ms per byte, byte just too late", Milliseconds{150}, Milliseconds{301}, false,
         Milliseconds{300}, 2},
        {"500 ms per byte, byte at once", Milliseconds{500}, Milliseconds{0}, true, Milliseconds{0}, 1},
    };
    for (const ByteReadCase& c : cases) {
        FakeClock clock;
        const Clock::TimePoint start = clock.now();
        int tries = 0;
        const std::optional<uint8_t> byte =
            ReadSerialByte(clock, c.perByte, [&](Clock::TimePoint deadline) -> std::optional<uint8_t> {
                ++tries;
                if (c.arrival && start + *c.arrival <= deadline) {
                    clock.sleep_until(start + *c.arrival);
                    return kByte;
                }
                clock.sleep_until(deadline);
                return std::nullopt;
            });
        EXPECT_EQ(byte.has_value(), c.received) << c.name;
        if (byte) {
            EXPECT_EQ(*byte, kByte) << c.name;
        }
        EXPECT_EQ(clock.elapsed(), c.elapsed) << c.name;
        EXPECT_EQ(tries, c.tries) << c.name;
    }
}

TEST(SerialByteRead, MeasuresEachTryByItsDeadlineNotByALateWakeUp) {
    // A try that returns late (the thread woke up after its deadline) still counts as ending at the
    // deadline: at 200 ms per byte the second try is made even though 200 ms have already passed.
    FakeClock clock;
    int tries = 0;
    const std::optional<uint8_t> byte =
        ReadSerialByte(clock, Milliseconds{200}, [&](Clock::TimePoint deadline) {
            ++tries;
            clock.sleep_until(deadline + Milliseconds{3});
            return std::optional<uint8_t>{};
        });
    EXPECT_FALSE(byte.has_value());
    EXPECT_EQ(tries, 2);
}

}  // namespace
}  // namespace zendrik
