#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace zendrik::testing {

struct ProcessResult {
    int status = -1;  // exit status, or -1 when killed at the deadline or by a signal
    std::string out;
    std::string err;
};

using Environment = std::map<std::string, std::string>;

// Runs `argv` with the extra environment variables to its end (killed after `deadline`) and
// collects its output.
ProcessResult RunProcess(const std::vector<std::string>& argv, const Environment& extra = {},
                         std::chrono::seconds deadline = std::chrono::seconds{60});

// A program that keeps running in the background, such as the virtual reader: started with its
// standard output on a pipe, stopped with SIGTERM (then SIGKILL) when destroyed.
class BackgroundProcess {
  public:
    explicit BackgroundProcess(const std::vector<std::string>& argv);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // Reads its standard output until `count` lines have arrived (or the deadline passes, or the
    // output ends) and gives what was read.
    std::vector<std::string> ReadLines(std::size_t count,
                                       std::chrono::seconds deadline = std::chrono::seconds{10});

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

}  // namespace zendrik::testing
