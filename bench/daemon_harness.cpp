#include "bench/daemon_harness.h"

#include <mosquitto.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "tests/daemon/http_client.h"
#include "tests/daemon/notify_socket.h"

namespace zendrik::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kQos = 1;
constexpr int kKeepaliveSeconds = 60;
constexpr std::string_view kSeqKey = "\"seq\":";
// utime and stime are fields 14 and 15 of /proc/PID/stat; counted after the command's ")", which
// ends field 2, they are the 12th and 13th.
constexpr int kUtimeAfterCommand = 12;
// A loop that has fallen far behind may take long to answer; the figures wait for it.
constexpr auto kScrapeLimit = 60s;
// A reader has a processor of its own; a virtual reader shares the daemon's. At the daemon's own
// priority 32 of them answering back to back took most of a 2-core machine from the daemon and the
// broker (8.8 k reads a second delivered, against 22 k at nice 10), so that the figures measured
// the sharing of the processor rather than the daemon. Nicer than the daemon, they answer with
// what it leaves, as a reader that is slow to answer would; at 19 two of them were starved.
constexpr int kVirtualReaderNiceness = 10;
// A virtual reader's socket is there within this time of its start.
constexpr auto kReaderStartLimit = 30s;

// The HID socket of the virtual reader number `index`.
std::string VirtualReaderSocket(const TemporaryDirectory& directory, int index) {
    return directory.File("reader-" + std::to_string(index));
}

std::vector<std::string> VirtualReaderArguments(const TemporaryDirectory& directory, int index,
                                                int roundTimeMs, const std::vector<std::string>& extra) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "e2003412012345678901%04d", index);  // 12 bytes
    std::vector<std::string> arguments{ZENDRIK_SIM_PATH,
                                       "--hid-socket",
                                       VirtualReaderSocket(directory, index),
                                       "--serial",
                                       std::to_string(index),
                                       "--tag",
                                       tag,
                                       "--round-time",
                                       std::to_string(roundTimeMs)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

}  // namespace

int SecondsFrom(const char* variable, int byDefault) {
    const char* text = std::getenv(variable);
    return text != nullptr ? std::atoi(text) : byDefault;
}

std::unique_ptr<ChildProcess> StartVirtualReader(const TemporaryDirectory& directory, int index,
                                                 int roundTimeMs, const std::vector<std::string>& extra,
                                                 const std::string& logPath) {
    auto reader =
        std::make_unique<ChildProcess>(VirtualReaderArguments(directory, index, roundTimeMs, extra), logPath);
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(reader->pid()), kVirtualReaderNiceness);
    if (!testing::WaitForFile(VirtualReaderSocket(directory, index), kReaderStartLimit)) {
        throw std::runtime_error("a virtual reader did not start: " + testing::ReadFile(logPath));
    }
    return reader;
}

std::vector<std::string> StartVirtualReaders(const TemporaryDirectory& directory, int count, int roundTimeMs,
                                             std::vector<std::unique_ptr<ChildProcess>>& readers,
                                             const std::vector<std::string>& extra) {
    std::vector<std::string> addresses;
    for (int i = 1; i <= count; ++i) {
        readers.push_back(StartVirtualReader(directory, i, roundTimeMs, extra,
                                             directory.File("reader-" + std::to_string(i) + ".log")));
        addresses.push_back("usb:" + VirtualReaderSocket(directory, i));
    }
    return addresses;
}

std::string BenchConfig(uint16_t port, const TemporaryDirectory& directory,
                        const std::vector<std::string>& addresses, uint16_t httpPort,
                        const std::string& tables) {
    const std::string listen = httpPort != 0 ? "127.0.0.1:" + std::to_string(httpPort) : "";
    std::string config = "site = \"bench\"\n[mqtt]\nport = " + std::to_string(port) + "\n[spool]\npath = \"" +
                         directory.File("spool.sqlite") + "\"\n[http]\nlisten = \"" + listen + "\"\n" +
                         tables;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        config +=
            "[[reader]]\nname = \"r" + std::to_string(i + 1) + "\"\naddress = \"" + addresses[i] + "\"\n";
    }
    const std::string path = directory.File("zendrikd.toml");
    std::ofstream(path) << config;
    return path;
}

std::unique_ptr<ChildProcess> StartReadyDaemon(const std::string& config, const TemporaryDirectory& directory,
                                               std::chrono::seconds limit, const std::string& program) {
    testing::NotifySocket notify(directory.File("notify"));
    auto daemon = std::make_unique<ChildProcess>(
        std::vector<std::string>{program, "--config", config}, directory.File("zendrikd.log"),
        std::map<std::string, std::string>{{"NOTIFY_SOCKET", notify.path()}});
    notify.WaitFor("READY=1", limit);
    return daemon;
}

uint64_t AnsweredReads(const std::string& log) {
    static const std::regex answered("([0-9]+) tag reads answered");
    std::smatch match;
    const std::string text = testing::ReadFile(log);
    return std::regex_search(text, match, answered) ? std::stoull(match[1]) : 0;
}

namespace {

// A /proc stat line's command (between the parentheses) and its user and system times in seconds.
struct StatTimes {
    std::string command;
    double seconds = 0;
};

StatTimes ParseStat(const std::string& stat) {
    const std::size_t commandStart = stat.find('(');
    const std::size_t commandEnd = stat.rfind(')');
    if (commandStart == std::string::npos || commandEnd == std::string::npos || commandEnd < commandStart) {
        return {};
    }
    std::istringstream fields(stat.substr(commandEnd + 1));
    std::string field;
    for (int i = 1; i < kUtimeAfterCommand; ++i) {
        fields >> field;
    }
    uint64_t user = 0;
    uint64_t system = 0;
    fields >> user >> system;
    return {stat.substr(commandStart + 1, commandEnd - commandStart - 1),
            static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK))};
}

}  // namespace

double CpuSeconds(pid_t pid) {
    return ParseStat(testing::ReadFile("/proc/" + std::to_string(pid) + "/stat")).seconds;
}

ThreadCpuSeconds CpuSecondsByThreadName(pid_t pid, const std::string& name) {
    ThreadCpuSeconds split;
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        const StatTimes times = ParseStat(testing::ReadFile((task.path() / "stat").string()));
        (times.command == name ? split.named : split.others) += times.seconds;
    }
    return split;
}

std::map<std::string, double> ScrapeMetrics(uint16_t httpPort) {
    testing::HttpConnection connection(httpPort);
    std::map<std::string, double> samples;
    std::istringstream lines(connection.Request("GET", "/metrics").body);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.rfind(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos) {
            continue;
        }
        const std::string value = line.substr(space + 1);
        samples[line.substr(0, space)] = value == "+Inf" ? HUGE_VAL : std::strtod(value.c_str(), nullptr);
    }
    return samples;
}

std::map<std::string, double> ScrapeMetricsWith(uint16_t httpPort, const std::string& sample) {
    const auto deadline = std::chrono::steady_clock::now() + kScrapeLimit;
    std::map<std::string, double> metrics = ScrapeMetrics(httpPort);
    while (metrics.count(sample) == 0 && std::chrono::steady_clock::now() < deadline) {
        metrics = ScrapeMetrics(httpPort);
    }
    return metrics;
}

double SumOf(const std::map<std::string, double>& metrics, const std::string& name) {
    double sum = 0;
    for (const auto& [sample, value] : metrics) {
        if (sample == name || (sample.starts_with(name) && sample[name.size()] == '{')) {
            sum += value;
        }
    }
    return sum;
}

ReadCounter::ReadCounter(uint16_t port) {
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    if (client_ == nullptr) {
        throw std::runtime_error("mosquitto_new failed");
    }
    mosquitto_connect_callback_set(client_, &ReadCounter::OnConnect);
    mosquitto_message_callback_set(client_, &ReadCounter::OnMessage);
    if (mosquitto_connect(client_, "127.0.0.1", port, kKeepaliveSeconds) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(client_);
        throw std::runtime_error("the read counter cannot connect");
    }
}

ReadCounter::~ReadCounter() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

uint64_t ReadCounter::received() {
    const std::lock_guard lock(mutex_);
    return received_;
}

uint64_t ReadCounter::distinct() {
    const std::lock_guard lock(mutex_);
    return distinct_;
}

void ReadCounter::OnConnect(mosquitto* client, void*, int code) {
    if (code == 0) {
        mosquitto_subscribe(client, nullptr, "zendrik/bench/+/reads", kQos);
    }
}

void ReadCounter::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* counter = static_cast<ReadCounter*>(self);
    const std::string_view payload(static_cast<const char*>(message->payload),
                                   static_cast<std::size_t>(message->payloadlen));
    const std::lock_guard lock(counter->mutex_);
    std::vector<bool>& seen = counter->seen_[message->topic];
    // Every read's "seq": one in a plain read, one per read of a batch (whose own numbers are
    // "first_seq" and "last_seq").
    for (std::size_t key = payload.find(kSeqKey); key != std::string_view::npos;
         key = payload.find(kSeqKey, key + kSeqKey.size())) {
        uint64_t seq = 0;
        const char* digits = payload.data() + key + kSeqKey.size();
        if (std::from_chars(digits, payload.data() + payload.size(), seq).ec != std::errc{}) {
            continue;
        }
        ++counter->received_;
        if (seen.size() <= seq) {
            seen.resize(2 * seq + 1);
        }
        if (!seen[seq]) {
            seen[seq] = true;
            ++counter->distinct_;
        }
    }
}

}  // namespace zendrik::bench
