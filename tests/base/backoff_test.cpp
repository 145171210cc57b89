#include "base/backoff.h"

#include <gtest/gtest.h>

namespace zendrik::base {
namespace {

using std::chrono::milliseconds;

constexpr BackoffPolicy kReader{milliseconds{100}, milliseconds{5000}};

// The reader links' policy (100 ms to 5 s) and others: doubling to the ceiling, up to half taken
// off by the random number, however many failures there were.
TEST(ReconnectDelay, DoublesToTheCeilingWithUpToHalfTakenOff) {
    struct Case {
        unsigned failures;
        BackoffPolicy policy;
        double random;
        milliseconds expected;
    };
    const Case cases[] = {
        {0, kReader, 0.0, milliseconds{100}},
        {1, kReader, 0.0, milliseconds{200}},
        {2, kReader, 0.0, milliseconds{400}},
        {5, kReader, 0.0, milliseconds{3200}},
        {6, kReader, 0.0, milliseconds{5000}},
        {40, kReader, 0.0, milliseconds{5000}},
        {0, kReader, 0.5, milliseconds{75}},
        {6, kReader, 0.5, milliseconds{3750}},
        {5, kReader, 0.5, milliseconds{2400}},
        {0, kReader, 0.03, milliseconds{99}},
        {0, kReader, 0.999, milliseconds{51}},
        {0, kReader, 1.0, milliseconds{50}},
        {1, kReader, 1.0, milliseconds{100}},
        {6, kReader, 1.0, milliseconds{2500}},
        // No overflow however long the other side stays away.
        {~0u, kReader, 0.0, milliseconds{5000}},
        {100000, kReader, 0.5, milliseconds{3750}},
        // A random number outside [0, 1] is held to it.
        {3, kReader, -1.0, milliseconds{800}},
        {0, kReader, -3.0, milliseconds{100}},
        {0, kReader, 7.0, milliseconds{50}},
        // A zero first delay would spin: at least a millisecond.
        {0, BackoffPolicy{milliseconds{0}, milliseconds{0}}, 0.0, milliseconds{1}},
        {0, BackoffPolicy{milliseconds{0}, milliseconds{0}}, 1.0, milliseconds{1}},
        // A first delay above the ceiling is held to the ceiling.
        {0, BackoffPolicy{milliseconds{900}, milliseconds{200}}, 0.0, milliseconds{200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.failures << " failures, random " << c.random);
        EXPECT_EQ(ReconnectDelay(c.failures, c.policy, c.random), c.expected);
    }
}

TEST(Backoff, CountsFailuresAndStartsAgainOnSuccess) {
    Backoff drawn(kReader);
    for (int i = 0; i < 10; ++i) {
        drawn.NextDelay();
    }
    EXPECT_EQ(drawn.failures(), 10u);
    EXPECT_GE(drawn.NextDelay(), milliseconds{2500});
    drawn.Succeeded();
    EXPECT_EQ(drawn.failures(), 0u);
    const milliseconds first = drawn.NextDelay();
    EXPECT_GE(first, milliseconds{50});
    EXPECT_LE(first, milliseconds{100});

    Backoff given(kReader);
    EXPECT_EQ(given.NextDelay(0.0), milliseconds{100});
    EXPECT_EQ(given.NextDelay(0.0), milliseconds{200});
    EXPECT_EQ(given.NextDelay(1.0), milliseconds{200});
    given.Succeeded();
    EXPECT_EQ(given.NextDelay(0.0), milliseconds{100});
}

}  // namespace
}  // namespace zendrik::base
