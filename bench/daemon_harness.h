#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/daemon/child_process.h"

struct mosquitto;
struct mosquitto_message;

namespace zendrik::bench {

using testing::ChildProcess;
using testing::TemporaryDirectory;

// The whole number in an environment variable, or `byDefault` when it is not set.
int SecondsFrom(const char* variable, int byDefault);

// Virtual readers on HID sockets in `directory` (reader-1, reader-2, ...), each with a serial
// number and a tag of its own and `extra` arguments, kept in `readers`; gives their addresses once
// every socket is there.
std::vector<std::string> StartVirtualReaders(const TemporaryDirectory& directory, int count, int roundTimeMs,
                                             std::vector<std::unique_ptr<ChildProcess>>& readers,
                                             const std::vector<std::string>& extra = {});
// The virtual reader number `index` of StartVirtualReaders, its output in `logPath`, once its
// socket is there. It runs nicer than the daemon, as a stand-in for a reader's own processor.
std::unique_ptr<ChildProcess> StartVirtualReader(const TemporaryDirectory& directory, int index,
                                                 int roundTimeMs, const std::vector<std::string>& extra,
                                                 const std::string& logPath);

// The configuration of site "bench" with readers r1, r2, ... at `addresses`, HTTP on `httpPort`
// (none for 0) and the `tables` given (TOML, such as "[publish]\nbatch_ms = 100\n"); gives the
// file's path.
std::string BenchConfig(uint16_t port, const TemporaryDirectory& directory,
                        const std::vector<std::string>& addresses, uint16_t httpPort = 0,
                        const std::string& tables = "");

// zendrikd (`program`) on the configuration `config`, its output in `directory`'s zendrikd.log,
// once it has said READY=1 on a notify socket in `directory` (within `limit`).
std::unique_ptr<ChildProcess> StartReadyDaemon(const std::string& config, const TemporaryDirectory& directory,
                                               std::chrono::seconds limit,
                                               const std::string& program = ZENDRIKD_PATH);

// What a virtual reader's log says it answered.
uint64_t AnsweredReads(const std::string& log);

// The processor time a process has used so far (user and system), from /proc/PID/stat.
double CpuSeconds(pid_t pid);

// A process's processor time so far split by its threads' names: the threads named `name` (a
// reader handle's, which exchange with the readers) and all the others (the daemon's own).
struct ThreadCpuSeconds {
    double named = 0;
    double others = 0;
};
ThreadCpuSeconds CpuSecondsByThreadName(pid_t pid, const std::string& name);

// The samples of GET /metrics by name with their labels ("zendrik_reads_total{reader=\"r1\"}").
std::map<std::string, double> ScrapeMetrics(uint16_t httpPort);
// The same, asked again until `sample` is among them (or a minute has passed).
std::map<std::string, double> ScrapeMetricsWith(uint16_t httpPort, const std::string& sample);
// The sum of the samples whose name (before any labels) is `name`.
double SumOf(const std::map<std::string, double>& metrics, const std::string& name);

// A subscriber to the site's reads that keeps only what the figures need: how many arrived, and
// which reader and sequence number pairs (so that a read that came twice counts once). A batch
// counts each of its reads.
class ReadCounter {
  public:
    explicit ReadCounter(uint16_t port);
    ~ReadCounter();
    ReadCounter(const ReadCounter&) = delete;
    ReadCounter& operator=(const ReadCounter&) = delete;

    uint64_t received();
    uint64_t distinct();

  private:
    static void OnConnect(mosquitto*, void* self, int code);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

    mosquitto* client_ = nullptr;
    std::mutex mutex_;
    uint64_t received_ = 0;
    uint64_t distinct_ = 0;
    std::map<std::string, std::vector<bool>> seen_;  // reader topic -> seen by seq
};

}  // namespace zendrik::bench
