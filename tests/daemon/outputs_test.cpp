// The webhooks' parts on their own: the retry decisions over a run of attempts in simulated time,
// Retry-After in both its forms, the body's signature against RFC 4231, and the spool holding rows
// for an output beside the uplink.
#include <gtest/gtest.h>

#include "daemon/outputs/body_signature.h"
#include "daemon/outputs/retry_policy.h"
#include "daemon/store/spool.h"
#include "tests/daemon/child_process.h"

namespace zendrik::daemon {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

AttemptResult Answer(long status, std::optional<seconds> retryAfter = std::nullopt) {
    return AttemptResult{TransportOutcome::kAnswered, status, retryAfter};
}

AttemptResult Transport(TransportOutcome outcome) {
    return AttemptResult{outcome, 0, std::nullopt};
}

// Each case is a run of attempts at batches of one output; the clock only moves by the waits.
TEST(OutputsTest, RetryDecisionsOverARunOfAttempts) {
    struct Step {
        AttemptResult result;
        Verdict verdict;
        milliseconds wait;
        const char* reason;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        milliseconds waited;  // the simulated time the run spent waiting
    };
    const std::vector<Case> cases = {
        {"2xx delivers at once",
         {{Answer(200), Verdict::kDelivered, milliseconds{0}, ""},
          {Answer(204), Verdict::kDelivered, milliseconds{0}, ""}},
         milliseconds{0}},
        {"5xx and transport failures double from 1 s to 60 s",
         {{Answer(500), Verdict::kRetry, seconds{1}, "http-5xx"},
          {Transport(TransportOutcome::kTimeout), Verdict::kRetry, seconds{2}, "timeout"},
          {Transport(TransportOutcome::kRefused), Verdict::kRetry, seconds{4}, "refused"},
          {Transport(TransportOutcome::kClosed), Verdict::kRetry, seconds{8}, "closed"},
          {Answer(503), Verdict::kRetry, seconds{16}, "http-5xx"},
          {Transport(TransportOutcome::kTls), Verdict::kRetry, seconds{32}, "tls"},
          {Answer(408), Verdict::kRetry, seconds{60}, "http-408"},
          {Transport(TransportOutcome::kOther), Verdict::kRetry, seconds{60}, "transport"},
          {Answer(200), Verdict::kDelivered, milliseconds{0}, ""},
          {Answer(502), Verdict::kRetry, seconds{1}, "http-5xx"}},
         seconds{1 + 2 + 4 + 8 + 16 + 32 + 60 + 60 + 1}},
        {"Retry-After is honoured, held to 1 s at least and an hour at most",
         {{Answer(429, seconds{7}), Verdict::kRetry, seconds{7}, "http-429"},
          {Answer(429), Verdict::kRetry, seconds{2}, "http-429"},
          {Answer(503, seconds{0}), Verdict::kRetry, seconds{1}, "http-5xx"},
          {Answer(429, seconds{86400}), Verdict::kRetry, seconds{3600}, "http-429"}},
         seconds{7 + 2 + 1 + 3600}},
        {"another 4xx three times, then the dead letters; the next batch starts afresh",
         {{Answer(400), Verdict::kRetry, seconds{1}, "http-4xx"},
          {Answer(500), Verdict::kRetry, seconds{2}, "http-5xx"},
          {Answer(404), Verdict::kRetry, seconds{4}, "http-4xx"},
          {Answer(422), Verdict::kDeadLetter, milliseconds{0}, "http-4xx"},
          {Answer(401), Verdict::kRetry, seconds{1}, "http-4xx"}},
         seconds{1 + 2 + 4 + 1}},
        {"a redirect is not followed and counts as the client's error",
         {{Answer(301), Verdict::kRetry, seconds{1}, "http-other"},
          {Answer(302), Verdict::kRetry, seconds{2}, "http-other"},
          {Answer(307), Verdict::kDeadLetter, milliseconds{0}, "http-other"}},
         seconds{3}},
    };
    for (const Case& run : cases) {
        SCOPED_TRACE(run.name);
        RetryState state;
        milliseconds clock{0};
        for (std::size_t i = 0; i < run.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = run.steps[i];
            const Decision decision = Decide(step.result, state);
            EXPECT_EQ(decision.verdict, step.verdict);
            EXPECT_EQ(decision.wait, step.wait);
            EXPECT_EQ(decision.reason, step.reason);
            clock += decision.wait;
        }
        EXPECT_EQ(clock, run.waited);
    }
}

TEST(OutputsTest, RetryAfterInSecondsOrAsADate) {
    // 1994-11-06 08:49:37 UTC, the date of RFC 9110's example.
    constexpr int64_t kExampleDate = 784111777;
    struct Case {
        const char* value;
        int64_t now;
        std::optional<seconds> wait;
    };
    const Case cases[] = {
        {"120", 0, seconds{120}},
        {" 5 ", 0, seconds{5}},
        {"0", 0, seconds{0}},
        {"99999999999999999999999", 0, kLongestRetryAfter},
        {"Sun, 06 Nov 1994 08:49:37 GMT", kExampleDate - 30, seconds{30}},
        {"Sun, 06 Nov 1994 08:49:37 GMT", kExampleDate + 30, seconds{0}},
        {"Sun, 06 Nov 1994 08:49:37", kExampleDate, std::nullopt},
        {"soon", 0, std::nullopt},
        {"-5", 0, std::nullopt},
        {"", 0, std::nullopt},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.value);
        EXPECT_EQ(ParseRetryAfter(test.value, test.now), test.wait);
    }
}

// RFC 4231's test cases 1, 2 and 6 (a key longer than the block), and the header's form.
TEST(OutputsTest, SignatureIsHmacSha256OfTheBody) {
    struct Case {
        std::string key;
        std::string data;
        const char* hex;
    };
    const Case cases[] = {
        {std::string(20, '\x0b'), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.data);
        EXPECT_EQ(HmacSha256Hex(test.key, test.data), test.hex);
    }
    EXPECT_EQ(SignatureValue("Jefe", "what do ya want for nothing?"),
              "sha256=5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

std::vector<int64_t> IdsOf(const std::vector<SpooledMessage>& rows) {
    std::vector<int64_t> ids;
    for (const SpooledMessage& row : rows) {
        ids.push_back(row.id);
    }
    return ids;
}

// The uplink acknowledges and dead-letters rows a webhook still holds: they stay readable for it,
// are never handed to the uplink again (not even after a lost connection), and go once the hold
// moves past them; a hold longer than the spool's size gives the oldest up.
TEST(OutputsTest, SpoolHoldsRowsForAnOutputBesideTheUplink) {
    testing::TemporaryDirectory directory;
    constexpr uint64_t kSpoolRows = 6;
    Spool spool(directory.File("spool.sqlite"), kSpoolRows);
    spool.HoldFrom(1);
    {
        Spool::Burst burst = spool.Begin();
        for (int i = 0; i < 4; ++i) {
            burst.Add("a", "a/reads", [](uint64_t seq) { return "read " + std::to_string(seq); });
        }
        burst.Commit();
    }
    EXPECT_EQ(spool.newestId(), 4);
    const std::vector<int64_t> handed = IdsOf(spool.HandOver(10));
    ASSERT_EQ(handed, (std::vector<int64_t>{1, 2, 3, 4}));
    spool.Acknowledge({1, 2, 3});
    spool.MoveToDeadLetters({4}, "too large");
    spool.FlushAcknowledged();
    EXPECT_EQ(spool.size(), 0u);
    EXPECT_EQ(spool.held(), 4u);
    EXPECT_EQ(IdsOf(spool.ReadAfter(0, 10)), handed);  // the webhook still has them all
    spool.ReturnHandedOver();
    EXPECT_TRUE(spool.HandOver(10).empty());

    spool.HoldFrom(3);  // the webhook delivered 1 and 2
    spool.FlushAcknowledged();
    EXPECT_EQ(IdsOf(spool.ReadAfter(0, 10)), (std::vector<int64_t>{3, 4}));
    spool.CopyToDeadLetters(spool.ReadAfter(2, 1));
    EXPECT_EQ(IdsOf(spool.ReadAfter(0, 10)), (std::vector<int64_t>{3, 4}));  // a copy: the row stays

    // Far behind: past the spool's size the oldest held rows go, counted.
    {
        Spool::Burst burst = spool.Begin();
        for (int i = 0; i < 8; ++i) {
            burst.Add("a", "a/reads", [](uint64_t seq) { return "read " + std::to_string(seq); });
        }
        burst.Commit();
    }
    spool.Acknowledge(IdsOf(spool.HandOver(10)));
    spool.FlushAcknowledged();
    EXPECT_EQ(spool.held(), kSpoolRows);
    EXPECT_EQ(spool.heldOverrun(), 4u);
    EXPECT_EQ(spool.ReadAfter(0, 20).front().id, 7);
    spool.HoldFrom(std::nullopt);  // no webhook any more: everything acknowledged goes
    spool.FlushAcknowledged();
    EXPECT_TRUE(spool.ReadAfter(0, 20).empty());
    EXPECT_EQ(spool.held(), 0u);
}

}  // namespace
}  // namespace zendrik::daemon
