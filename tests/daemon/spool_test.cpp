// The spool on its own: sequence numbers that survive reopening and never skip, oldest first,
// acknowledgements, a full spool dropping and counting, the lock, a corrupt file moved aside with
// what is readable taken over, numbers never given twice after a spool was lost, the first
// schema taken over, dead letters, a disk that runs full, and the sequence file's ranges growing
// with a reader's pace; rows older than the max age dropped, in simulated time.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "daemon/store/sequence_file.h"
#include "daemon/store/spool.h"
#include "tests/daemon/child_process.h"
#include "tests/daemon/small_disk.h"

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

// Every row handed over acknowledged and deleted: the table is empty, and a row stored then is
// still handed over next (a deleted row's id must not be given to it again, below the hand-over).
TEST(SpoolTest, ARowStoredAfterTheSpoolEmptiedIsHandedOver) {
    testing::TemporaryDirectory directory;
    Spool spool(directory.File("spool.sqlite"), 100);
    for (const uint64_t round : {1u, 2u, 3u}) {
        SCOPED_TRACE(round);
        Store(spool, "a", 2);
        const std::vector<SpooledMessage> sent = spool.HandOver(10);
        ASSERT_EQ(Seqs(sent), (std::vector<uint64_t>{2 * round - 1, 2 * round}));
        spool.Acknowledge({sent[0].id, sent[1].id});
        spool.FlushAcknowledged();
        EXPECT_EQ(spool.size(), 0u);
    }
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

TEST(SpoolTest, LinksToALockedSpoolAreRefused) {
    testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    Spool first(path, 10);
    std::filesystem::create_symlink(path, directory.File("symlink"));
    std::filesystem::create_hard_link(path, directory.File("hardlink"));
    for (const char* link : {"symlink", "hardlink"}) {
        SCOPED_TRACE(link);
        EXPECT_THROW(Spool(directory.File(link), 10), SpoolError);
    }
}

TEST(SpoolTest, AWriteLockHeldByAnotherProcessForAMomentIsWaitedFor) {
    testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    Spool spool(path, 10);
    Database other(path);
    other.Execute("BEGIN IMMEDIATE");
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.Execute("COMMIT");
    });
    EXPECT_EQ(Store(spool, "a", 1), 1u);
    release.join();
}

// The message that tells of lost numbers, as the test renders it.
std::pair<std::string, std::string> LossText(const SpoolLoss& loss, uint64_t seq) {
    return {loss.reader + "/events", "lost " + std::to_string(loss.missingFrom) + "-" +
                                         std::to_string(loss.missingTo) + " seq " + std::to_string(seq)};
}

void Truncate(const std::string& path, double share) {
    std::filesystem::resize_file(
        path, static_cast<uintmax_t>(static_cast<double>(std::filesystem::file_size(path)) * share));
}

// A slot of the sequence file as a run on another boot that did not stop cleanly leaves it.
void WriteUncleanSequenceFile(const std::string& path, uint64_t reserved) {
    const std::string body = "zendrik-seq 1\ngeneration 9\nboot another-boot\nclean 0\nbehind 0\nreader " +
                             std::to_string(reserved) + " 61\n";
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "crc %08x\n", Crc32(body));
    std::filesystem::remove(path);
    std::ofstream(path) << body + checksum;
}

TEST(SpoolTest, NumbersAreNeverGivenTwiceAfterTheSpoolWasLost) {
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> damage;
        uint64_t missingFrom;
        uint64_t missingTo;
    };
    const Case cases[] = {
        {"deleted", [](const std::string& path) { std::filesystem::remove(path); }, 1, 1000},
        {"truncated to nothing", [](const std::string& path) { Truncate(path, 0); }, 1, 1000},
        {"truncated to half", [](const std::string& path) { Truncate(path, 0.5); }, 1, 1000},
        {"header damaged",
         [](const std::string& path) {
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file << "not a database at all";
         },
         1, 1000},
        {"a power failure took its last commits",
         [](const std::string& path) { WriteUncleanSequenceFile(path + ".seq", 2000); }, 6, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TemporaryDirectory directory;
        const std::string path = directory.File("spool.sqlite");
        {
            Spool spool(path, 1000, LossText);
            Store(spool, "a", 5);
            spool.Acknowledge({spool.HandOver(3).front().id});
        }
        c.damage(path);
        {
            Spool spool(path, 1000, LossText);
            ASSERT_EQ(spool.losses().size(), 1u);
            EXPECT_EQ(spool.losses()[0].reader, "a");
            EXPECT_EQ(spool.losses()[0].missingFrom, c.missingFrom);
            EXPECT_EQ(spool.losses()[0].missingTo, c.missingTo);
            const std::vector<SpooledMessage> waiting = spool.HandOver(100);
            ASSERT_FALSE(waiting.empty());
            EXPECT_EQ(waiting.back().topic, "a/events");
            EXPECT_EQ(waiting.back().payload, "lost " + std::to_string(c.missingFrom) + "-" +
                                                  std::to_string(c.missingTo) + " seq " +
                                                  std::to_string(c.missingTo + 1));
            EXPECT_EQ(Store(spool, "a", 1), c.missingTo + 2);
            EXPECT_EQ(Store(spool, "never-seen", 1), 1u);
        }
        Spool again(path, 1000, LossText);
        EXPECT_TRUE(again.losses().empty()) << "a loss is told once";
        EXPECT_EQ(again.lastSeq("a"), c.missingTo + 2);
    }
}

// Readers numbering at a steady pace, in bursts a store window apart, on a clock of the test's
// own: how often the sequence file is synced, and how far ahead of the last number given it
// reserves at the end (what a power failure would leave as a gap). Every number is reserved before
// it is given, and reopened the file still holds every reservation.
TEST(SequenceFileTest, ReservesFurtherAheadTheFasterAReaderGoesSoThatOneSyncCoversManyBursts) {
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    struct Case {
        const char* what;
        int readers;
        uint64_t perSecond;   // each reader's numbers a second
        uint64_t firstBurst;  // numbers each reader takes at once at the start
        seconds lasting;
        uint64_t syncs;        // in all, for every reader
        uint64_t aheadAtMost;  // a reader's reserved and not given numbers at the end
    };
    constexpr milliseconds kBurstEvery{40};
    const Case cases[] = {
        {"a slow reader keeps its first range", 1, 10, 0, seconds{60}, 1, kMinReserve},
        {"a fast reader syncs every ten seconds, not every second", 1, 1000, 0, seconds{60}, 8, 10000},
        {"a burst at the start grows the range only so much", 1, 10, 4096, seconds{60}, 2,
         kMinReserve * kReserveGrowth},
        {"a flood of many readers: one sync renews them all", 32, 600, 0, seconds{20}, 34, 6000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TemporaryDirectory directory;
        SequenceFile::Clock::time_point now{};
        std::map<std::string, uint64_t> given;
        {
            SequenceFile file(directory.File("seq"), [&] { return now; });
            const auto take = [&](const std::string& reader, uint64_t count) {
                for (uint64_t i = 0; i < count; ++i) {
                    file.Cover(reader, ++given[reader]);
                    ASSERT_GE(file.ReservedFor(reader), given[reader]);
                }
            };
            for (int r = 0; r < c.readers; ++r) {
                take("reader-" + std::to_string(r), c.firstBurst);
            }
            // Each burst takes what came since the last at the pace, whole numbers of it.
            const auto bursts = c.lasting / kBurstEvery;
            for (int64_t burst = 1; burst <= bursts; ++burst, now += kBurstEvery) {
                const auto byNow = static_cast<uint64_t>(milliseconds{kBurstEvery * burst}.count()) *
                                       c.perSecond / std::chrono::milliseconds{seconds{1}}.count() +
                                   c.firstBurst;
                for (int r = 0; r < c.readers; ++r) {
                    const std::string reader = "reader-" + std::to_string(r);
                    take(reader, byNow - given[reader]);
                }
            }
            EXPECT_EQ(file.syncs(), c.syncs);
            for (const auto& [reader, last] : given) {
                EXPECT_LE(file.ReservedFor(reader) - last, c.aheadAtMost) << reader;
            }
        }
        const SequenceFile reopened(directory.File("seq"));
        for (const auto& [reader, last] : given) {
            EXPECT_GE(reopened.ReservedFor(reader), last) << reader;
        }
    }
}

TEST(SpoolTest, RowsStillReadableInADamagedFileAreTakenOver) {
    constexpr uint64_t kRows = 600;
    constexpr std::size_t kPageBytes = 1024;
    testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    {
        Spool spool(path, kRows);
        Spool::Burst burst = spool.Begin();
        for (uint64_t i = 0; i < kRows; ++i) {
            burst.Add("a", "a/reads",
                      [](uint64_t seq) { return std::string(200, 'p') + std::to_string(seq); });
        }
        ASSERT_TRUE(burst.Commit());
    }
    {
        // Pages in the middle of the message table overwritten.
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(60 * kPageBytes));
        file << std::string(10 * kPageBytes, '\x5a');
    }
    Spool spool(path, kRows, LossText);
    const std::vector<SpooledMessage> rows = spool.HandOver(kRows + 1);
    ASSERT_FALSE(rows.empty());
    const uint64_t taken = rows.size() - 1;  // the last is the message that tells of the loss
    EXPECT_GT(taken, kRows / 2);
    EXPECT_LT(taken, kRows);
    EXPECT_EQ(rows.front().seq, 1u);
    EXPECT_EQ(rows.front().payload, std::string(200, 'p') + "1");
    EXPECT_EQ(spool.counts("a").dropped, kRows - taken) << "what could not be read is counted";
    ASSERT_EQ(spool.losses().size(), 1u);
    EXPECT_EQ(spool.losses()[0].missingFrom, kRows + 1)
        << "every number up to the last stored is accounted for";
}

TEST(SpoolTest, SpoolOfTheFirstSchemaIsTakenOverAndKeepsDeadLetters) {
    testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    {
        Database old(path);
        old.Execute(
            "PRAGMA journal_mode = WAL;"
            "CREATE TABLE message(id INTEGER PRIMARY KEY, reader TEXT NOT NULL, seq INTEGER NOT NULL,"
            "  topic TEXT NOT NULL, payload BLOB NOT NULL, handed_over INTEGER NOT NULL DEFAULT 0);"
            "CREATE INDEX message_by_state ON message(handed_over, id);"
            "CREATE TABLE reader(name TEXT PRIMARY KEY, last_seq INTEGER NOT NULL, dropped INTEGER NOT NULL "
            "  DEFAULT 0);"
            "INSERT INTO message(reader, seq, topic, payload, handed_over) VALUES"
            "  ('a', 7, 'a/reads', 'seq 7', 1), ('a', 8, 'a/reads', 'seq 8', 0);"
            "INSERT INTO reader VALUES('a', 8, 2);"
            "PRAGMA user_version = 1;");
    }
    {
        Spool spool(path, 10);
        EXPECT_EQ(spool.size(), 2u);
        EXPECT_EQ(spool.counts("a").dropped, 2u);
        const std::vector<SpooledMessage> rows = spool.HandOver(10);
        EXPECT_EQ(Seqs(rows), (std::vector<uint64_t>{7, 8}))
            << "handed over in the old file counts as stored";
        spool.ReturnHandedOver();
        ASSERT_TRUE(spool.MoveToDeadLetter(rows[0].id));
        EXPECT_FALSE(spool.MoveToDeadLetter(rows[0].id)) << "moved once";
        EXPECT_EQ(Store(spool, "a", 1), 9u);
        EXPECT_EQ(Seqs(spool.HandOver(10)), (std::vector<uint64_t>{8, 9}));
    }
    Spool reopened(path, 10);
    EXPECT_EQ(reopened.counts("a").dead, 1u);
    EXPECT_EQ(reopened.counts("a").spooled, 2u);
    Database check(path);
    EXPECT_EQ(check.QueryText("SELECT payload FROM dead_letter"), "seq 7");
}

// Rows the broker will not take, moved in one go while handed over: what is handed over next
// goes on after them (nothing twice, nothing skipped), the reason stays with the reader's counts,
// and a row moved already or acknowledged is left alone.
TEST(SpoolTest, RowsHandedOverAreMovedToTheDeadLettersTogetherWithTheirReason) {
    testing::TemporaryDirectory directory;
    const std::string path = directory.File("spool.sqlite");
    Spool spool(path, 100);
    Store(spool, "big", 3);
    Store(spool, "small", 2);
    const std::vector<SpooledMessage> first = spool.HandOver(4);
    ASSERT_EQ(first.size(), 4u);
    spool.Acknowledge({first[3].id});
    const std::vector<SpooledMessage> moved =
        spool.MoveToDeadLetters({first[0].id, first[2].id, first[3].id}, "too large");
    EXPECT_EQ(Seqs(moved), (std::vector<uint64_t>{1, 3})) << "the acknowledged row is not a dead letter";
    EXPECT_TRUE(spool.MoveToDeadLetters({first[0].id}, "again").empty()) << "moved once";
    EXPECT_EQ(spool.counts("big").dead, 2u);
    EXPECT_EQ(spool.counts("big").spooled, 1u);
    EXPECT_EQ(spool.counts("big").deadReason, "too large");
    EXPECT_EQ(spool.counts("small").deadReason, "");
    EXPECT_EQ(Seqs(spool.HandOver(10)), (std::vector<uint64_t>{2}));
    spool.ReturnHandedOver();
    EXPECT_EQ(Seqs(spool.HandOver(10)), (std::vector<uint64_t>{2, 2})) << "big 2 and small 2";
    EXPECT_EQ(spool.size(), 2u);
    spool.FlushAcknowledged();
    Database check(path);
    EXPECT_EQ(check.QueryText("SELECT group_concat(reader || ':' || seq) FROM dead_letter"), "big:1,big:3");
    EXPECT_EQ(check.QueryText("SELECT dead FROM reader WHERE name = 'big'"), "2");
}

TEST(SpoolTest, FullDiskDropsTheOldestStoredAndRecoversByItself) {
    testing::SmallDisk disk;
    if (!disk.mounted()) {
        GTEST_SKIP() << "a small tmpfs is mounted only when the test runs as root";
    }
    const auto big = [](uint64_t seq) { return std::string(900, 'b') + std::to_string(seq); };
    const std::string path = disk.File("spool.sqlite");
    Spool spool(path, 1000000);
    uint64_t stored = 0;
    for (int burst = 0; burst < 300; ++burst) {  // about 2.7 MB into 2 MB
        Spool::Burst messages = spool.Begin();
        for (int i = 0; i < 10; ++i) {
            messages.Add("a", "a/reads", big);
        }
        ASSERT_TRUE(messages.Commit()) << "room made by dropping the oldest, burst " << burst;
        stored += 10;
    }
    EXPECT_GT(spool.counts("a").dropped, 0u);
    EXPECT_EQ(spool.size() + spool.counts("a").dropped, stored) << "every message stored or counted";
    EXPECT_TRUE(spool.writable());
    EXPECT_EQ(spool.HandOver(1).front().seq, spool.counts("a").dropped + 1) << "the oldest went first";

    // Everything else handed over, the disk filled to the last byte: nothing can be freed.
    spool.HandOver(1000000);
    disk.Fill("filler");
    const uint64_t droppedBefore = spool.counts("a").dropped;
    uint64_t seq = 0;
    bool refused = false;
    for (int burst = 0; burst < 100 && !refused; ++burst) {  // what free pages are left fills first
        Spool::Burst messages = spool.Begin();
        seq = messages.Add("a", "a/reads", big);
        refused = !messages.Commit();
        spool.HandOver(10);  // a healthy broker has everything in flight
        if (refused) {
            ASSERT_EQ(messages.unstored().size(), 1u);
            EXPECT_EQ(messages.unstored()[0].seq, seq);
            EXPECT_EQ(messages.unstored()[0].payload, big(seq));
        }
    }
    ASSERT_TRUE(refused);
    EXPECT_FALSE(spool.writable());
    EXPECT_TRUE(spool.counts("a").spoolFull);
    EXPECT_EQ(spool.counts("a").dropped, droppedBefore) << "rows in flight are never dropped for room";

    std::filesystem::remove(disk.File("filler"));
    spool.Checkpoint();
    EXPECT_EQ(Store(spool, "a", 1), seq + 1) << "the number given without a row is not given again";
    EXPECT_TRUE(spool.writable());
}

TEST(SpoolTest, RowsNoOutputTookWithinTheMaxAgeAreDroppedInSimulatedTime) {
    constexpr int64_t kMinute = 60 * 1000;
    constexpr int64_t kMaxAge = 10 * kMinute;
    testing::TemporaryDirectory directory;
    int64_t now = 1'000'000'000;
    const int64_t start = now;
    auto spool = std::make_unique<Spool>(directory.File("spool.sqlite"), 100);
    spool->SetClock([&] { return now; });
    Store(*spool, "a", 3);  // from before the ages were kept: counted as stored when they begin
    spool->KeepAges();
    now += 2 * kMinute;
    Store(*spool, "b", 2);
    const std::vector<SpooledMessage> taken = spool->HandOver(1);  // in flight: not dropped
    ASSERT_EQ(taken.size(), 1u);

    now = start + kMaxAge;
    EXPECT_TRUE(spool->Expire(kMaxAge).empty()) << "not older than max_age yet";
    now = start + kMaxAge + kMinute - 1;
    EXPECT_TRUE(spool->Expire(kMaxAge).empty()) << "the minute a row's age may be late";
    now += 1;
    EXPECT_EQ(spool->Expire(kMaxAge), (std::map<std::string, uint64_t>{{"a", 2}}));
    EXPECT_EQ(spool->counts("a").expired, 2u);
    EXPECT_EQ(spool->counts("a").dropped, 2u);
    EXPECT_EQ(spool->counts("a").spooled, 1u);
    EXPECT_EQ(spool->counts("b").spooled, 2u);
    EXPECT_EQ(spool->size(), 3u);
    EXPECT_TRUE(spool->Expire(kMaxAge).empty()) << "once";

    // The connection is lost: the row in flight is stored again, and as old as the others.
    spool->ReturnHandedOver();
    now = start + 2 * kMinute + kMaxAge + kMinute;
    EXPECT_EQ(spool->Expire(kMaxAge), (std::map<std::string, uint64_t>{{"a", 1}, {"b", 2}}));
    EXPECT_EQ(spool->size(), 0u);
    EXPECT_TRUE(spool->HandOver(10).empty());
    spool.reset();
    Spool reopened(directory.File("spool.sqlite"), 100);
    EXPECT_EQ(reopened.size(), 0u);
    EXPECT_EQ(reopened.counts("a").dropped, 3u) << "kept across a restart";
    EXPECT_EQ(reopened.counts("b").dropped, 2u);
    EXPECT_EQ(reopened.lastSeq("b"), 2u) << "numbers go on above the dropped";
}

}  // namespace
}  // namespace zendrik::daemon
