#include "tests/cli/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "tests/support/spawn_arguments.h"

namespace zendrik::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kReadChunk = 4096;

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        read = ends[0];
        write = ends[1];
    }
};

pid_t Spawn(std::vector<std::string> argv, const Environment& extra, int out, int err) {
    std::vector<std::string> environment = MergedEnvironment(extra);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    if (err >= 0) {
        posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    }
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv.front().c_str(), &actions, nullptr, Pointers(argv).data(),
                                   Pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        throw std::runtime_error("cannot start " + argv.front());
    }
    return pid;
}

// Appends what `fd` has to `text`; false at its end.
bool Drain(int fd, std::string& text) {
    std::array<char, kReadChunk> buffer;
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got <= 0) {
        return false;
    }
    text.append(buffer.data(), static_cast<std::size_t>(got));
    return true;
}

int Remaining(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int Reap(pid_t pid, bool kill) {
    if (kill) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return !kill && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const Environment& extra,
                         std::chrono::seconds deadline) {
    Pipe out;
    Pipe err;
    const pid_t pid = Spawn(argv, extra, out.write, err.write);
    ::close(out.write);
    ::close(err.write);
    ProcessResult result;
    std::array<pollfd, 2> fds{pollfd{out.read, POLLIN, 0}, pollfd{err.read, POLLIN, 0}};
    const Clock::time_point end = Clock::now() + deadline;
    bool timedOut = false;
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds.data(), fds.size(), Remaining(end)) <= 0) {
            timedOut = true;
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            std::string& text = i == 0 ? result.out : result.err;
            if (fds[i].fd >= 0 && fds[i].revents != 0 && !Drain(fds[i].fd, text)) {
                fds[i].fd = -1;
            }
        }
    }
    ::close(out.read);
    ::close(err.read);
    result.status = Reap(pid, timedOut);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, const Environment& extra,
                                     bool captureErrors) {
    Pipe out;
    if (captureErrors) {
        Pipe err;
        pid_ = Spawn(argv, extra, out.write, err.write);
        ::close(err.write);
        err_ = err.read;
        errOpen_ = true;
    } else {
        pid_ = Spawn(argv, extra, out.write, -1);
    }
    ::close(out.write);
    out_ = out.read;
}

BackgroundProcess::~BackgroundProcess() {
    if (!stopped_) {
        ::kill(pid_, SIGTERM);
        const Clock::time_point end = Clock::now() + std::chrono::seconds{5};
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() >= end) {
                Reap(pid_, true);
                break;
            }
            ::usleep(10000);
        }
    }
    ::close(out_);
    if (err_ >= 0) {
        ::close(err_);
    }
}

bool BackgroundProcess::Take(int waitMs) {
    std::array<pollfd, 2> fds{pollfd{outOpen_ ? out_ : -1, POLLIN, 0},
                              pollfd{errOpen_ ? err_ : -1, POLLIN, 0}};
    if (!outOpen_ && !errOpen_) {
        return false;
    }
    if (::poll(fds.data(), fds.size(), waitMs) <= 0) {
        return true;
    }
    if (fds[0].revents != 0 && !Drain(out_, pending_)) {
        outOpen_ = false;
    }
    if (fds[1].revents != 0 && !Drain(err_, errors_)) {
        errOpen_ = false;
    }
    return outOpen_ || errOpen_;
}

std::vector<std::string> BackgroundProcess::ReadLines(std::size_t count, std::chrono::seconds deadline) {
    std::vector<std::string> lines;
    const Clock::time_point end = Clock::now() + deadline;
    while (lines.size() < count) {
        const std::size_t newline = pending_.find('\n');
        if (newline != std::string::npos) {
            lines.push_back(pending_.substr(0, newline));
            pending_.erase(0, newline + 1);
            continue;
        }
        if (Remaining(end) == 0 || !Take(Remaining(end))) {
            break;
        }
    }
    return lines;
}

bool BackgroundProcess::WaitForError(const std::string& text, std::chrono::seconds deadline) {
    const Clock::time_point end = Clock::now() + deadline;
    while (errors_.find(text) == std::string::npos) {
        if (Remaining(end) == 0 || !Take(Remaining(end))) {
            return false;
        }
    }
    return true;
}

ProcessResult BackgroundProcess::Stop(int signal, std::chrono::seconds deadline) {
    ::kill(pid_, signal);
    const Clock::time_point end = Clock::now() + deadline;
    while (Remaining(end) > 0 && Take(Remaining(end))) {
    }
    stopped_ = true;
    ProcessResult result;
    result.status = Reap(pid_, Remaining(end) == 0);
    result.out = std::exchange(pending_, {});
    result.err = std::exchange(errors_, {});
    return result;
}

}  // namespace zendrik::testing
