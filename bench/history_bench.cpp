// The history of the zones and doors.
// Tag lookups: a history of a million visits (and a fifth as many passages) written beforehand
// through the history's own class, a zendrikd over it with one zone, and GET /api/v1/tags/EPC asked
// over one kept-alive connection for tags with many visits, tags with few and tags never seen (404),
// in turn: the delay of each answer, p50 and p99 over all and p99 of each kind (goal p99 < 20 ms).
// ZENDRIK_HISTORY_LOOKUPS sets the number of requests (default 3000).
// Disk: 50 tags read 300 times a second in all, moving between two zones through a door, played
// in simulated time through the zones, the door and the history keeper (written a batch a
// simulated second, as the keeper does on its timer) for ZENDRIK_HISTORY_SIM_MINUTES (default 10):
// the size of history.sqlite and its -wal at the end per read.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <random>
#include <thread>

#include "bench/daemon_harness.h"
#include "bench/percentile.h"
#include "daemon/loop/event_loop.h"
#include "daemon/loop/off_loop.h"
#include "daemon/store/history.h"
#include "daemon/zones/door_passes.h"
#include "daemon/zones/history_keeper.h"
#include "daemon/zones/zone_presence.h"
#include "tests/daemon/broker.h"
#include "tests/daemon/http_client.h"
#include "tests/support/loopback.h"

namespace zendrik::bench {
namespace {

using namespace std::chrono_literals;
using daemon::DoorConfig;
using daemon::DoorPasses;
using daemon::History;
using daemon::HistoryKeeper;
using daemon::Passage;
using daemon::PassageRecord;
using daemon::Sighting;
using daemon::VisitRecord;
using daemon::ZoneChange;
using daemon::ZoneConfig;
using daemon::ZonePresence;
using testing::Broker;
using testing::FreePort;
using testing::HttpConnection;

constexpr int64_t kDayMs = 24 * 3600 * 1000;
constexpr int64_t kSecondMs = 1000;
constexpr uint64_t kBytesPerMb = 1024 * 1024;

// The lookups' history: a hundred busy tags with 2000 visits each and 200 000 quiet ones with four,
// over the last twenty days (within the default thirty kept); passages a fifth as many.
constexpr int kBusyTags = 100;
constexpr int kQuietTags = 200000;
constexpr int kVisits = 1000000;
constexpr int kBusyShare = 5;     // every fifth visit is a busy tag's
constexpr int kPassageShare = 5;  // the visits of every fifth run of five have a passage
constexpr int64_t kSpanMs = 20 * kDayMs;
constexpr int kWriteBatch = 50000;
constexpr int64_t kVisitMs = 60 * kSecondMs;
constexpr uint64_t kReadsAVisit = 12;
constexpr int kReaderRoundMs = 25;
constexpr int kDefaultLookups = 3000;
constexpr auto kStartLimit = 60s;
constexpr double kPercentile = 0.99;
constexpr double kMedian = 0.5;
constexpr int kLookupKinds = 3;  // a busy tag, a quiet one, one never seen

std::string Epc(char kind, int index) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "e2%c%021d", kind, index);
    return text.data();
}
std::string BusyEpc(int index) {
    return Epc('b', index);
}
std::string QuietEpc(int index) {
    return Epc('a', index);
}
std::string UnknownEpc(int index) {
    return Epc('f', index);
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Writes the lookups' history into `path` in batches, each one transaction.
void FillHistory(const std::string& path) {
    History history(path, daemon::HistoryConfig{}.keepDays, std::numeric_limits<uint64_t>::max());
    const int64_t nowMs = NowMs();
    const int64_t startMs = nowMs - kSpanMs;
    std::vector<VisitRecord> visits;
    std::vector<PassageRecord> passages;
    int quiet = 0;
    for (int i = 0; i < kVisits; ++i) {
        const std::string epc =
            i % kBusyShare == 0 ? BusyEpc(i / kBusyShare % kBusyTags) : QuietEpc(quiet++ % kQuietTags);
        const int64_t leftMs = startMs + kSpanMs * i / kVisits;
        const int64_t enteredMs = leftMs - kVisitMs;
        visits.push_back(VisitRecord{epc,
                                     "",
                                     i % 2 == 0 ? "dock" : "yard",
                                     enteredMs,
                                     leftMs,
                                     leftMs - kSecondMs,
                                     "r1",
                                     kReadsAVisit,
                                     {"r1", "r2"}});
        if (i / kBusyShare % kPassageShare == 0) {
            passages.push_back(PassageRecord{0, epc, "", "gate", i % 2 == 0 ? "in" : "out", enteredMs,
                                             enteredMs - kSecondMs, enteredMs});
        }
        if (visits.size() == kWriteBatch || i + 1 == kVisits) {
            history.Write(visits, passages, nowMs);
            visits.clear();
            passages.clear();
        }
    }
}

// A zendrikd with one zone over one virtual reader, its history the one in `directory`.
struct HistorySite {
    explicit HistorySite(const std::string& tables) {
        const std::vector<std::string> addresses = StartVirtualReaders(directory, 1, kReaderRoundMs, readers);
        config = BenchConfig(broker.port(), directory, addresses, httpPort, tables);
    }
    void Start() { daemon = StartReadyDaemon(config, directory, kStartLimit); }

    Broker broker{"allow_anonymous true"};
    TemporaryDirectory directory;
    std::vector<std::unique_ptr<ChildProcess>> readers;
    const uint16_t httpPort = FreePort();
    std::string config;
    std::unique_ptr<ChildProcess> daemon;
};

void HistoryTagLookups(benchmark::State& state) {
    const int lookups = SecondsFrom("ZENDRIK_HISTORY_LOOKUPS", kDefaultLookups);
    const std::string tables = "[history]\nmax_mb = 4096\n[[zone]]\nname = \"dock\"\nreaders = [\"r1\"]\n";
    for (auto _ : state) {
        HistorySite site(tables);
        const auto filling = std::chrono::steady_clock::now();
        FillHistory(site.directory.File("history.sqlite"));
        const double fillSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - filling).count();
        site.Start();

        // Each kind in turn: a busy tag, a quiet one, one never seen.
        std::array<std::vector<double>, kLookupKinds> delays;
        std::vector<double> all;
        int notFound = 0;
        int failed = 0;
        HttpConnection connection(site.httpPort);
        for (int i = 0; i < lookups; ++i) {
            const int kind = i % kLookupKinds;
            const std::string epc = kind == 0   ? BusyEpc(i % kBusyTags)
                                    : kind == 1 ? QuietEpc(i * 7 % kQuietTags)
                                                : UnknownEpc(i);
            const auto asked = std::chrono::steady_clock::now();
            const testing::HttpReply reply = connection.Request("GET", "/api/v1/tags/" + epc);
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count();
            notFound += reply.status == 404 ? 1 : 0;
            failed += reply.status != (kind == 2 ? 404 : 200) ? 1 : 0;
            delays[static_cast<std::size_t>(kind)].push_back(ms);
            all.push_back(ms);
        }
        const double fileBytes =
            static_cast<double>(std::filesystem::file_size(site.directory.File("history.sqlite")));
        site.daemon->Stop();
        if (failed > 0) {
            state.SkipWithError(
                (std::to_string(failed) + " answers of another status than expected").c_str());
            break;
        }
        state.counters["visits"] = kVisits;
        state.counters["fill_s"] = fillSeconds;
        state.counters["file_mb"] = fileBytes / kBytesPerMb;
        state.counters["requests"] = static_cast<double>(all.size());
        state.counters["not_found"] = notFound;
        state.counters["p50_ms"] = Percentile(all, kMedian);
        state.counters["p99_ms"] = Percentile(all, kPercentile);
        state.counters["busy_p99_ms"] = Percentile(delays[0], kPercentile);
        state.counters["quiet_p99_ms"] = Percentile(delays[1], kPercentile);
        state.counters["unknown_p99_ms"] = Percentile(delays[2], kPercentile);
    }
}
BENCHMARK(HistoryTagLookups)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The disk figure's site: zones dock (d1, d2, d3) and yard (y1, y2, y3), the door gate between d2
// inside and y2 outside. A tag stays in a zone, read by its two readers away from the gate in turn,
// then goes through the gate to the other (read on one side, then the other), or now and then out
// of every field for a while.
constexpr int kSimTags = 50;
constexpr int kReadsPerSecond = 300;
constexpr int kDefaultSimMinutes = 10;
constexpr int64_t kStayLeastMs = 30 * kSecondMs;
constexpr int64_t kStayMostMs = 90 * kSecondMs;
constexpr int64_t kCrossingMs = 2 * kSecondMs;  // on the door's readers, one side then the other
constexpr int64_t kAwayMs = 10 * kSecondMs;
constexpr double kAwayChance = 0.2;

const std::vector<ZoneConfig> kSimZones{{"dock", {"d1", "d2", "d3"}, 3000, 0},
                                        {"yard", {"y1", "y2", "y3"}, 3000, 0}};
const DoorConfig kSimDoor{"gate", {"y2"}, {"d2"}, 2000, 0};

// Where a simulated tag is: in a zone until `untilMs`, then crossing or away.
struct SimTag {
    std::string epc;
    bool inDock = true;
    enum class Doing { kStaying, kCrossing, kAway } doing = Doing::kStaying;
    int64_t untilMs = 0;
};

// The reader that reads `tag` at `atMs`, or none while it is away.
std::string ReaderOf(const SimTag& tag, int64_t atMs, int readIndex) {
    switch (tag.doing) {
        case SimTag::Doing::kAway:
            return "";
        case SimTag::Doing::kCrossing: {
            const bool firstHalf = tag.untilMs - atMs > kCrossingMs / 2;
            const bool onDockSide = firstHalf == tag.inDock;
            return onDockSide ? "d2" : "y2";
        }
        case SimTag::Doing::kStaying:
            break;
    }
    const bool first = readIndex % 2 == 0;
    return tag.inDock ? (first ? "d1" : "d3") : (first ? "y1" : "y3");
}

// Brings a tag on to what it does next once `untilMs` has passed.
void MoveOn(SimTag& tag, int64_t nowMs, std::mt19937& random) {
    if (nowMs < tag.untilMs) {
        return;
    }
    std::uniform_int_distribution<int64_t> stay(kStayLeastMs, kStayMostMs);
    std::bernoulli_distribution away(kAwayChance);
    switch (tag.doing) {
        case SimTag::Doing::kStaying:
            tag.doing = away(random) ? SimTag::Doing::kAway : SimTag::Doing::kCrossing;
            tag.untilMs = nowMs + (tag.doing == SimTag::Doing::kAway ? kAwayMs : kCrossingMs);
            return;
        case SimTag::Doing::kCrossing:
            tag.inDock = !tag.inDock;
            [[fallthrough]];
        case SimTag::Doing::kAway:
            tag.doing = SimTag::Doing::kStaying;
            tag.untilMs = nowMs + stay(random);
            return;
    }
}

std::uintmax_t SizeOrNone(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

void HistoryDiskPerRead(benchmark::State& state) {
    const int minutes = SecondsFrom("ZENDRIK_HISTORY_SIM_MINUTES", kDefaultSimMinutes);
    for (auto _ : state) {
        TemporaryDirectory directory;
        const std::string path = directory.File("history.sqlite");
        int64_t nowMs = NowMs();
        daemon::EventLoop loop;
        daemon::OffLoop offLoop(loop);
        HistoryKeeper keeper(path, daemon::HistoryConfig{}, loop, offLoop, [&nowMs] { return nowMs; });
        ZonePresence presence(kSimZones);
        DoorPasses door(kSimDoor);
        std::mt19937 random(1);
        std::uniform_int_distribution<int64_t> firstStay(0, kStayMostMs);
        std::vector<SimTag> tags;
        for (int i = 0; i < kSimTags; ++i) {
            tags.push_back(
                SimTag{QuietEpc(i), i % 2 == 0, SimTag::Doing::kStaying, nowMs + firstStay(random)});
        }

        uint64_t reads = 0;
        uint64_t visits = 0;
        uint64_t passed = 0;
        std::vector<ZoneChange> changes;
        std::vector<Passage> passages;
        const auto note = [&] {
            for (const ZoneChange& change : changes) {
                if (change.kind == ZoneChange::Kind::kLeft) {
                    keeper.Note(change);
                    ++visits;
                }
            }
            for (const Passage& passage : passages) {
                keeper.Note(passage);
                ++passed;
            }
            changes.clear();
            passages.clear();
        };
        // Each simulated second: its reads spread evenly over it, each tag's in turn, then the
        // batch written as the keeper's timer would.
        const int seconds = minutes * 60;
        const int64_t startMs = nowMs;
        for (int second = 0; second < seconds; ++second) {
            for (int slot = 0; slot < kReadsPerSecond; ++slot) {
                nowMs = startMs + second * kSecondMs + slot * kSecondMs / kReadsPerSecond;
                SimTag& tag = tags[static_cast<std::size_t>(slot % kSimTags)];
                MoveOn(tag, nowMs, random);
                const std::string reader = ReaderOf(tag, nowMs, slot / kSimTags);
                presence.AdvanceTo(nowMs, changes);
                door.AdvanceTo(nowMs, passages);
                if (!reader.empty()) {
                    const Sighting read{reader, tag.epc, "", nowMs};
                    presence.Read(read, changes);
                    door.Read(read, passages);
                    ++reads;
                }
                note();
            }
            keeper.WriteNow({});
        }
        keeper.WriteNow(presence.OpenVisits(nowMs));
        const auto fileBytes = static_cast<double>(SizeOrNone(path));
        const auto walBytes = static_cast<double>(SizeOrNone(path + "-wal"));
        const double bytes = fileBytes + walBytes;
        state.counters["reads"] = static_cast<double>(reads);
        state.counters["visits"] = static_cast<double>(visits);
        state.counters["passages"] = static_cast<double>(passed);
        state.counters["file_bytes"] = bytes;
        state.counters["db_bytes"] = fileBytes;
        state.counters["wal_bytes"] = walBytes;
        state.counters["bytes_per_read"] = reads > 0 ? bytes / static_cast<double>(reads) : 0;
        state.counters["simulated_s"] = seconds;
    }
}
BENCHMARK(HistoryDiskPerRead)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zendrik::bench
