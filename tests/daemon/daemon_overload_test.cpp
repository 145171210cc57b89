// zendrikd overloaded: more virtual readers answering every round at once than it can forward, its
// spool growing. It still says it is ready in time, obeys SIGTERM within its bound, and what it
// stored is either delivered or still in the spool, under numbers that were reserved.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "daemon/store/sequence_file.h"
#include "daemon/store/sqlite.h"
#include "tests/daemon/broker.h"
#include "tests/daemon/child_process.h"
#include "tests/daemon/sim_harness.h"

namespace zendrik::testing {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<Message>;

constexpr int kFloodingReaders = 32;
constexpr const char* kTagsInField = "64";
// The virtual readers run nicer than the daemon, as readers with processors of their own would:
// at the daemon's own priority they would measure the sharing of the processor, not the daemon.
constexpr int kVirtualReaderNiceness = 10;
// Long enough for the spool to grow behind the broker, short for a test.
constexpr auto kReading = 3s;
// What the daemon promises: stopped this soon after SIGTERM however loaded.
constexpr auto kStopBound = 5s;
// The broker has handed the subscriber all it held for it once nothing came for this long.
constexpr auto kDeliveryQuiet = 1s;
constexpr auto kDeliveryLimit = 30s;
// The broker keeps everything for the subscriber, however far it falls behind.
const std::string kBrokerConfig = "allow_anonymous true\nmax_queued_messages 0";

std::string ReaderName(int index) {
    return "r" + std::to_string(index);
}

// A virtual reader that answers every round at once with the many tags of its field.
std::unique_ptr<ChildProcess> StartFloodingReader(const TemporaryDirectory& directory, int index) {
    const std::string socket = directory.File(ReaderName(index) + ".sock");
    char tag[32];
    std::snprintf(tag, sizeof tag, "e2003412012345678901%04d", index);
    auto reader = std::make_unique<ChildProcess>(
        std::vector<std::string>{ZENDRIK_SIM_PATH, "--hid-socket", socket, "--serial", std::to_string(index),
                                 "--tag", tag, "--tags", kTagsInField, "--round-time", "0"},
        directory.File(ReaderName(index) + ".log"));
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(reader->pid()), kVirtualReaderNiceness);
    (void)testing::WaitForFile(socket, kSocketWait);  // a reader that never listens fails the test later
    return reader;
}

std::string Config(uint16_t port, const TemporaryDirectory& directory) {
    std::string text = "site = \"t\"\n[mqtt]\nport = " + std::to_string(port) +
                       "\ntopic_prefix = \"zt\"\n[spool]\npath = \"" + directory.File("spool.sqlite") +
                       "\"\n[http]\nlisten = \"\"\n";
    for (int i = 1; i <= kFloodingReaders; ++i) {
        text += "[[reader]]\nname = \"" + ReaderName(i) +
                "\"\naddress = \"usb:" + directory.File(ReaderName(i) + ".sock") + "\"\n";
    }
    const std::string path = directory.File("zendrikd.toml");
    std::ofstream(path) << text;
    return path;
}

// Each reader's sequence numbers that reached the subscriber, on its reads and events topics.
std::map<std::string, std::set<uint64_t>> DeliveredSeqs(const Messages& messages) {
    std::map<std::string, std::set<uint64_t>> seqs;
    for (const Message& message : messages) {
        const std::size_t readerAt = std::string("zt/t/").size();
        const std::size_t slash = message.topic.find('/', readerAt);
        if (slash == std::string::npos) {
            continue;
        }
        const std::string stream = message.topic.substr(slash + 1);
        if (stream == "reads" || stream == "events") {
            const auto payload = nlohmann::json::parse(message.payload);
            seqs[message.topic.substr(readerAt, slash - readerAt)].insert(payload["seq"].get<uint64_t>());
        }
    }
    return seqs;
}

// What the spool holds after the stop: each reader's rows by number, and its highest number.
struct SpoolContents {
    std::map<std::string, std::vector<uint64_t>> rows;
    std::map<std::string, uint64_t> lastSeq;
    std::map<std::string, uint64_t> dropped;
};

SpoolContents ReadSpool(const std::string& path) {
    SpoolContents contents;
    daemon::Database database(path);
    daemon::Statement rows(database.handle(), "SELECT reader, seq FROM message ORDER BY id");
    while (rows.Step()) {
        const auto seq = static_cast<uint64_t>(rows.Integer(1));
        contents.rows[rows.Text(0)].push_back(seq);
        uint64_t& last = contents.lastSeq[rows.Text(0)];
        last = std::max(last, seq);
    }
    daemon::Statement readers(database.handle(), "SELECT name, last_seq, dropped FROM reader");
    while (readers.Step()) {
        uint64_t& last = contents.lastSeq[readers.Text(0)];
        last = std::max(last, static_cast<uint64_t>(readers.Integer(1)));
        contents.dropped[readers.Text(0)] = static_cast<uint64_t>(readers.Integer(2));
    }
    return contents;
}

// Every number from 1 to the reader's highest was delivered or is still in the spool.
bool NothingMissing(const std::map<std::string, std::set<uint64_t>>& delivered, const SpoolContents& spool) {
    for (const auto& [reader, last] : spool.lastSeq) {
        std::set<uint64_t> seen;
        if (const auto found = delivered.find(reader); found != delivered.end()) {
            seen = found->second;
        }
        if (const auto found = spool.rows.find(reader); found != spool.rows.end()) {
            seen.insert(found->second.begin(), found->second.end());
        }
        if (seen.size() != last || (!seen.empty() && *seen.rbegin() != last)) {
            return false;
        }
    }
    return true;
}

// Waits until nothing more arrives (the condition is evaluated under the subscriber's lock at every
// arrival, so it only counts).
void WaitForQuiet(Subscriber& consumer) {
    std::size_t seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + kDeliveryLimit;
    const auto grew = [&](const Messages& messages) {
        const bool more = messages.size() > seen;
        seen = messages.size();
        return more;
    };
    while (consumer.WaitFor(grew, kDeliveryQuiet) && std::chrono::steady_clock::now() < deadline) {
    }
}

TEST(DaemonOverloadTest, FloodedByReadersItIsReadyInTimeAndStopsWithinItsBoundLosingNothing) {
    Broker broker(kBrokerConfig);
    TemporaryDirectory directory;
    std::vector<std::unique_ptr<ChildProcess>> readers;
    for (int i = 1; i <= kFloodingReaders; ++i) {
        readers.push_back(StartFloodingReader(directory, i));
    }
    const std::string config = Config(broker.port(), directory);
    Subscriber consumer(broker.port(), "zt/#", "consumer");
    const auto started = std::chrono::steady_clock::now();
    Zendrikd daemon(config, directory);
    ASSERT_TRUE(daemon.Ready()) << "READY=1 within " << kReadyWait.count() << " s\n" << daemon.log();
    RecordProperty("ready_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    std::chrono::steady_clock::now() - started)
                                                    .count()));
    std::this_thread::sleep_for(kReading);

    daemon.process().Signal(SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    std::future<int> exit = std::async(std::launch::async, [&] { return daemon.process().Wait(); });
    const bool stopped = exit.wait_for(kStopBound) == std::future_status::ready;
    if (!stopped) {
        daemon.process().Signal(SIGKILL);
    }
    const int status = exit.get();
    RecordProperty("stop_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::steady_clock::now() - signalled)
                                                   .count()));
    ASSERT_TRUE(stopped) << "still running " << kStopBound.count() << " s after SIGTERM\n" << daemon.log();
    EXPECT_EQ(status, 0) << daemon.log();
    EXPECT_NE(daemon.log().find("stopped; "), std::string::npos) << daemon.log();

    const std::string spoolPath = directory.File("spool.sqlite");
    const SpoolContents spool = ReadSpool(spoolPath);
    ASSERT_EQ(spool.lastSeq.size(), static_cast<std::size_t>(kFloodingReaders));
    const daemon::SequenceFile sequences(spoolPath + ".seq");
    std::size_t spooled = 0;
    for (const auto& [reader, last] : spool.lastSeq) {
        SCOPED_TRACE(reader);
        EXPECT_GT(last, 0u) << "every reader was read";
        EXPECT_GE(sequences.ReservedFor(reader), last) << "a number given was reserved first";
        EXPECT_EQ(spool.dropped.at(reader), 0u) << "the spool never came near its limit";
        const auto found = spool.rows.find(reader);
        const std::vector<uint64_t> rows =
            found != spool.rows.end() ? found->second : std::vector<uint64_t>{};
        EXPECT_EQ(std::set<uint64_t>(rows.begin(), rows.end()).size(), rows.size()) << "a number twice";
        spooled += rows.size();
    }
    RecordProperty("left_in_spool", static_cast<int>(spooled));
    WaitForQuiet(consumer);
    EXPECT_TRUE(NothingMissing(DeliveredSeqs(consumer.messages()), spool))
        << "numbers neither delivered nor in the spool";
}

}  // namespace
}  // namespace zendrik::testing
