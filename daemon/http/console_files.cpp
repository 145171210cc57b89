#include "daemon/http/console_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

namespace zendrik::daemon {
namespace {

constexpr std::size_t kNameMaxBytes = 255;

struct TypeOfExtension {
    std::string_view extension;
    std::string_view type;
};

constexpr std::array kTypes{
    TypeOfExtension{".html", "text/html; charset=utf-8"},
    TypeOfExtension{".js", "text/javascript; charset=utf-8"},
    TypeOfExtension{".mjs", "text/javascript; charset=utf-8"},
    TypeOfExtension{".css", "text/css; charset=utf-8"},
    TypeOfExtension{".json", "application/json"},
    TypeOfExtension{".map", "application/json"},
    TypeOfExtension{".svg", "image/svg+xml"},
    TypeOfExtension{".png", "image/png"},
    TypeOfExtension{".ico", "image/x-icon"},
    TypeOfExtension{".woff2", "font/woff2"},
    TypeOfExtension{".txt", "text/plain; charset=utf-8"},
};

bool NameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == '/';
}

bool SafeName(std::string_view name) {
    if (name.empty() || name.size() > kNameMaxBytes ||
        !std::all_of(name.begin(), name.end(), NameCharacter)) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        if (end == start || name[start] == '.') {
            return false;  // "a//b", "../x", ".hidden"
        }
        start = end + 1;
    }
    return true;
}

// The path with every symbolic link followed; nothing when it does not exist.
std::optional<std::string> Resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) {
        return std::nullopt;
    }
    return std::string(real.get());
}

constexpr const char* kFolderBesideProgram = "console";

}  // namespace

ConsoleFile::~ConsoleFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

ConsoleFile::ConsoleFile(ConsoleFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), contentType_(other.contentType_) {}

int ConsoleFile::Release() {
    return std::exchange(fd_, -1);
}

std::optional<ConsoleFile> OpenConsoleFile(const std::string& directory, std::string_view name) {
    if (!SafeName(name)) {
        return std::nullopt;
    }
    const std::optional<std::string> root = Resolved(directory);
    const std::optional<std::string> file = Resolved(directory + "/" + std::string(name));
    if (!root || !file || file->compare(0, root->size() + 1, *root + "/") != 0) {
        return std::nullopt;
    }
    const int fd = ::open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return std::nullopt;
    }
    ConsoleFile opened(fd, 0, ContentTypeOf(name));
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return ConsoleFile(opened.Release(), static_cast<uint64_t>(status.st_size), ContentTypeOf(name));
}

std::string_view ContentTypeOf(std::string_view name) {
    for (const TypeOfExtension& entry : kTypes) {
        if (name.size() >= entry.extension.size() &&
            name.substr(name.size() - entry.extension.size()) == entry.extension) {
            return entry.type;
        }
    }
    return "application/octet-stream";
}

std::vector<std::string> ConsoleFolders(const std::string& named, const std::string& installed,
                                        const std::string& programPath) {
    if (!named.empty()) {
        return {named};
    }
    std::vector<std::string> folders{installed};
    if (!programPath.empty()) {
        folders.push_back((std::filesystem::path(programPath).parent_path() / kFolderBesideProgram).string());
    }
    return folders;
}

std::optional<std::string> FolderWithConsole(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (OpenConsoleFile(folder, kConsoleIndex)) {
            return folder;
        }
    }
    return std::nullopt;
}

std::string ProgramPath() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.string();
}

std::string NoConsolePage(const std::vector<std::string>& looked) {
    std::string page =
        "zendrikd has no site console to show: there is no " + std::string(kConsoleIndex) + " in\n";
    for (const std::string& folder : looked) {
        page += "  " + folder + "\n";
    }
    page +=
        "Install the console's files there, or start zendrikd with --console-dir DIR, DIR being the folder "
        "that holds them (daemon/console in the source tree).\n";
    return page;
}

}  // namespace zendrik::daemon
