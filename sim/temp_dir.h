#pragma once

#include <string>

namespace zendrik::sim {

// A private directory under $TMPDIR (or /tmp), removed with everything in it when it goes.
class TempDir {
  public:
    // Throws std::system_error when the directory cannot be made.
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace zendrik::sim
