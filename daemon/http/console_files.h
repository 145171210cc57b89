#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik::daemon {

// The console's page, served for "/".
inline constexpr std::string_view kConsoleIndex = "index.html";

// A file of the console opened for sending; its descriptor closes with it unless taken.
class ConsoleFile {
  public:
    ConsoleFile(int fd, uint64_t size, std::string_view contentType)
        : fd_(fd), size_(size), contentType_(contentType) {}
    ~ConsoleFile();
    ConsoleFile(ConsoleFile&& other) noexcept;
    ConsoleFile& operator=(ConsoleFile&&) = delete;
    ConsoleFile(const ConsoleFile&) = delete;

    uint64_t size() const { return size_; }
    std::string_view contentType() const { return contentType_; }
    // The descriptor, now the caller's to close.
    int Release();

  private:
    int fd_;
    uint64_t size_;
    std::string_view contentType_;
};

// Opens `name` ("index.html", "js/app.js") below the console's folder `directory`. Nothing for a
// name with other characters than letters, digits, '.', '-', '_' and '/', a segment that is empty
// or starts with '.', a file that lies outside the folder once symbolic links are followed, or
// anything but a regular file.
std::optional<ConsoleFile> OpenConsoleFile(const std::string& directory, std::string_view name);

// The content type of a file by its extension; application/octet-stream for one not known.
std::string_view ContentTypeOf(std::string_view name);

// The folders the console is looked for in, in order: the one the command line names, alone; else
// the installed one, then "console" beside the program `programPath` (where a build tree has it).
std::vector<std::string> ConsoleFolders(const std::string& named, const std::string& installed,
                                        const std::string& programPath);

// The first of `folders` that holds the console's page; nothing when none does.
std::optional<std::string> FolderWithConsole(const std::vector<std::string>& folders);

// The running program's path; empty when the system does not say.
std::string ProgramPath();

// What a daemon without its console answers for the page: the folders it looked in, and how to
// name the right one.
std::string NoConsolePage(const std::vector<std::string>& looked);

}  // namespace zendrik::daemon
