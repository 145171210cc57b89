#include "bench/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace zendrik::bench {
namespace {

constexpr int kLineWaitMs = 10000;
constexpr std::string_view kHidLine = "ZENDRIK_HID_SOCKET=";
constexpr std::string_view kUdpLine = "ZENDRIK_SIM_UDP=";
constexpr std::string_view kComLine = "ZENDRIK_COM1=";
constexpr std::string_view kAnsweredSuffix = " tag reads answered";
constexpr std::string_view kProgramPrefix = "zendrik-sim: ";

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

Pipe MakePipe() {
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

}  // namespace

SimProcess::SimProcess(Transport transport, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments{ZENDRIK_SIM_PROGRAM};
    switch (transport) {
        case Transport::kUsb: {
            char pattern[] = "/tmp/zendrik-bench-XXXXXX";
            if (::mkdtemp(pattern) == nullptr) {
                throw std::runtime_error("mkdtemp");
            }
            directory_ = pattern;
            arguments.insert(arguments.end(), {"--hid-socket", directory_ + "/hid.sock"});
            break;
        }
        case Transport::kUdp:
            arguments.insert(arguments.end(), {"--udp", "127.0.0.1:0"});
            break;
        case Transport::kSerial:
            arguments.emplace_back("--pty");
            break;
    }
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    Pipe out = MakePipe();
    Pipe err = MakePipe();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + arguments[0]);
    }
    stdout_ = std::move(out.read);
    stderr_ = std::move(err.read);
    for (;;) {
        const std::string line = ReadLine(stdout_.get());
        if (line.empty()) {
            throw std::runtime_error("zendrik-sim said nothing of where it listens");
        }
        if (line.starts_with(kHidLine)) {
            address_ = "usb:" + line.substr(kHidLine.size());
        } else if (line.starts_with(kUdpLine)) {
            address_ = "udp:" + line.substr(kUdpLine.size()) + "?local=127.0.0.1:0";
        } else if (line.starts_with(kComLine)) {
            address_ = "serial:" + line.substr(kComLine.size());
        }
        if (!address_.empty()) {
            return;
        }
    }
}

SimProcess::~SimProcess() {
    Stop();
}

// One line, without its newline; empty when the program ends or keeps silent too long.
std::string SimProcess::ReadLine(int fd) {
    std::string line;
    for (;;) {
        pollfd watched{fd, POLLIN, 0};
        if (::poll(&watched, 1, kLineWaitMs) <= 0) {
            return line;
        }
        char c = 0;
        if (::read(fd, &c, 1) != 1 || c == '\n') {
            return line;
        }
        line.push_back(c);
    }
}

int64_t SimProcess::Stop() {
    if (pid_ < 0) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    int64_t answered = -1;
    for (std::string line = ReadLine(stderr_.get()); !line.empty(); line = ReadLine(stderr_.get())) {
        if (line.starts_with(kProgramPrefix) && line.ends_with(kAnsweredSuffix)) {
            answered = std::strtoll(line.c_str() + kProgramPrefix.size(), nullptr, 10);
        }
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (!directory_.empty()) {
        std::filesystem::remove_all(directory_);
    }
    return answered;
}

}  // namespace zendrik::bench
