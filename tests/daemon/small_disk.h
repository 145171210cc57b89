#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/daemon/child_process.h"

namespace zendrik::testing {

// A file system of its own, two megabytes of memory, mounted for the test when it runs as root
// (mounted() is false otherwise: the test skips).
class SmallDisk {
  public:
    SmallDisk() {
        mounted_ =
            ::geteuid() == 0 && ::mount("tmpfs", directory_.path().c_str(), "tmpfs", 0, "size=2m") == 0;
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount2(directory_.path().c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    std::string File(const std::string& name) const { return directory_.File(name); }
    // Fills what is left of the disk with the file `name`.
    void Fill(const std::string& name) const {
        std::ofstream filler(File(name), std::ios::app);
        const std::string block(4096, 'f');
        while (filler << block && filler.flush()) {
        }
    }

  private:
    TemporaryDirectory directory_;
    bool mounted_ = false;
};

}  // namespace zendrik::testing
