#include "tests/daemon/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/spawn_arguments.h"

namespace zendrik::testing {
namespace {

constexpr auto kGraceTime = std::chrono::seconds{5};
constexpr auto kReapPoll = std::chrono::milliseconds{10};
constexpr int kSignalStatusBase = 128;

int StatusOf(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : kSignalStatusBase + WTERMSIG(raw);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logPath,
                           const std::map<std::string, std::string>& environment) {
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = MergedEnvironment(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // A test that blocks signals for its own loop must not hand that mask on.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    const int failed = posix_spawnp(&pid_, arguments.front().c_str(), &actions, &attributes,
                                    Pointers(arguments).data(), Pointers(variables).data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv.front());
    }
}

ChildProcess::~ChildProcess() {
    if (running()) {
        Stop();
    }
}

void ChildProcess::Signal(int signal) const {
    if (running()) {
        ::kill(pid_, signal);
    }
}

int ChildProcess::Wait() {
    int raw = 0;
    if (!running() || ::waitpid(pid_, &raw, 0) != pid_) {
        return -1;
    }
    pid_ = -1;
    return StatusOf(raw);
}

int ChildProcess::Stop() {
    if (!running()) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kGraceTime;
    int raw = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
            pid_ = -1;
            return StatusOf(raw);
        }
        std::this_thread::sleep_for(kReapPoll);
    }
    ::kill(pid_, SIGKILL);
    return Wait();
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds limit) {
    constexpr std::chrono::milliseconds kPoll{10};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zendrikd-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace zendrik::testing
