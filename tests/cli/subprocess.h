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
// standard output on a pipe (and, when asked, its standard error), stopped with SIGTERM (then
// SIGKILL) when destroyed.
class BackgroundProcess {
  public:
    explicit BackgroundProcess(const std::vector<std::string>& argv, const Environment& extra = {},
                               bool captureErrors = false);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // Reads its standard output until `count` lines have arrived (or the deadline passes, or the
    // output ends) and gives what was read.
    std::vector<std::string> ReadLines(std::size_t count,
                                       std::chrono::seconds deadline = std::chrono::seconds{10});

    // Waits until standard error holds `text` (or the deadline passes, or the output ends).
    bool WaitForError(const std::string& text, std::chrono::seconds deadline = std::chrono::seconds{10});

    // Sends `signal` and waits for the end (killed after the deadline): the exit status, the
    // standard output not yet taken by ReadLines, and all of standard error.
    ProcessResult Stop(int signal, std::chrono::seconds deadline = std::chrono::seconds{10});

  private:
    // Takes what the pipes have, waiting up to `waitMs`; false when both have ended.
    bool Take(int waitMs);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string pending_;
    std::string errors_;
    bool outOpen_ = true;
    bool errOpen_ = false;
    bool stopped_ = false;
};

}  // namespace zendrik::testing
