#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace zendrik::testing {

// A program run in the background with its standard output and error going to a log file; sent
// SIGTERM (then SIGKILL) and reaped when destroyed.
class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& logPath,
                 const std::map<std::string, std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    void Signal(int signal) const;
    // Waits for its end: the exit status, or 128 + the signal that ended it.
    int Wait();
    // SIGTERM, then SIGKILL after a grace time; gives what Wait() gives.
    int Stop();

  private:
    pid_t pid_ = -1;
};

// A file's whole text ("" when it cannot be read).
std::string ReadFile(const std::string& path);

// Waits until `path` exists (a program's socket or port file) or `limit` has passed; says which.
bool WaitForFile(const std::string& path, std::chrono::milliseconds limit);

// A fresh directory under the system's temporary directory, removed with everything in it.
class TemporaryDirectory {
  public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

}  // namespace zendrik::testing
