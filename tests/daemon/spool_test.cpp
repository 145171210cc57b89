// The spool on its own: sequence numbers that survive reopening and never skip, oldest first,
// acknowledgements, a full spool dropping and counting, the lock, and a corrupt file moved aside.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "daemon/spool.h"
#include "tests/daemon/child_process.h"

namespace zendrik::daemon {
namespace {

std::string Payload(uint64_t seq) {
    return "seq " + std::to_string(seq);
}

uint64_t Store(Spool& spool, const std::string& reader, int count) {
    Spool::Burst burst = spool.Begin();
    uint64_t last = 0;
    for (int i = 0; i < count; ++i) {
        last = burst.Add(reader, reader + "/reads", Payload);
    }
    burst.Commit();
    return last;
}

std::vector<uint64_t> Seqs(const std::vector<SpooledMessage>& messages) {
    std::vector<uint64_t> seqs;
    for (const SpooledMessage& message : messages) {
        seqs.push_back(message.seq);
    }
    return seqs;
}

TEST(SpoolTest, SequencesGoOnAcrossReopeningAndAnUncommittedBurstLeavesNoGap) {
    testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    {
        Spool spool(path, 100);
        EXPECT_EQ(Store(spool, "a", 3), 3u);
        EXPECT_EQ(Store(spool, "b", 1), 1u);
        {
            // A crash between storing and committing: the burst is rolled back whole.
            Spool::Burst burst = spool.Begin();
            burst.Add("a", "a/reads", Payload);
        }
        EXPECT_EQ(spool.lastSeq("a"), 3u);
        const std::vector<SpooledMessage> taken = spool.HandOver(2);
        EXPECT_EQ(Seqs(taken), (std::vector<uint64_t>{1, 2}));
        EXPECT_EQ(taken[0].payload, "seq 1");
        EXPECT_EQ(taken[0].topic, "a/reads");
        spool.Acknowledge({taken[0].id});
        EXPECT_EQ(spool.size(), 3u);
        EXPECT_EQ(spool.counts("a").spooled, 2u);
    }
    Spool reopened(path, 100);
    EXPECT_EQ(reopened.size(), 3u);
    EXPECT_EQ(Store(reopened, "a", 1), 4u);
    // The row handed over before is stored again and goes out first.
    EXPECT_EQ(Seqs(reopened.HandOver(10)), (std::vector<uint64_t>{2, 3, 1, 4}));
    reopened.ReturnHandedOver();
    EXPECT_EQ(reopened.HandOver(1).front().seq, 2u);
    reopened.Checkpoint();
}

TEST(SpoolTest, FullSpoolDropsOldestStoredFirstAndCountsThem) {
    testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    {
        Spool spool(path, 4);
        Store(spool, "a", 2);
        const std::vector<SpooledMessage> inFlight = spool.HandOver(1);  // a1 is with the broker
        Store(spool, "b", 2);
        Store(spool, "b", 2);  // full: a2 and b1 go, a1 in flight stays
        EXPECT_EQ(spool.size(), 4u);
        EXPECT_EQ(spool.counts("a").dropped, 1u);
        EXPECT_EQ(spool.counts("b").dropped, 1u);
        EXPECT_EQ(spool.counts("b").spooled, 3u);
        spool.ReturnHandedOver();
        EXPECT_EQ(Seqs(spool.HandOver(10)), (std::vector<uint64_t>{1, 2, 3, 4}));
        // A second acknowledgement of one row changes nothing.
        spool.Acknowledge({inFlight.front().id, inFlight.front().id});
        EXPECT_EQ(spool.size(), 3u);
    }
    Spool reopened(path, 4);
    EXPECT_EQ(reopened.counts("a").dropped, 1u) << "dropped counts are kept with the spool";
    EXPECT_EQ(reopened.counts("b").spooled, 3u);
}

TEST(SpoolTest, SecondDaemonOnOneSpoolIsRefused) {
    testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    Spool first(path, 10);
    try {
        Spool second(path, 10);
        ADD_FAILURE() << "a second spool opened";
    } catch (const SpoolError& error) {
        EXPECT_NE(std::string(error.what()).find("another zendrikd"), std::string::npos) << error.what();
    }
}

TEST(SpoolTest, CorruptFileIsMovedAsideAndAFreshSpoolStarts) {
    testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    std::ofstream(path) << std::string(8192, 'x');
    Spool spool(path, 10);
    ASSERT_FALSE(spool.notes().empty());
    EXPECT_NE(spool.notes().front().find("moved aside"), std::string::npos) << spool.notes().front();
    int moved = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
        if (entry.path().filename().string().rfind("spool.sqlite.corrupt-", 0) == 0) {
            ++moved;
            EXPECT_EQ(testing::ReadFile(entry.path()), std::string(8192, 'x')) << "kept as it was";
        }
    }
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(Store(spool, "a", 1), 1u);
}

TEST(SpoolTest, MissingDirectoryIsReported) {
    EXPECT_THROW(Spool("/nonexistent/dir/spool.sqlite", 10), SpoolError);
}

}  // namespace
}  // namespace zendrik::daemon
