#include "sim/temp_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace zendrik::sim {
namespace {

constexpr const char* kTemplateName = "/zendrik-sim-XXXXXX";

std::string TempRoot() {
    const char* root = std::getenv("TMPDIR");
    return (root && *root) ? root : "/tmp";
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = TempRoot() + kTemplateName;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace zendrik::sim
