#pragma once

#include <string>
#include <vector>

#include "daemon/config/config.h"

namespace zendrik::daemon {

// How the readers of a configuration read again differ from those running, by name.
struct ReaderChanges {
    std::vector<std::string> removed;
    std::vector<ReaderConfig> added;
    std::vector<ReaderConfig> changed;  // the new configuration of a reader kept by its name

    bool empty() const { return removed.empty() && added.empty() && changed.empty(); }
};

// A reader counts as changed when anything of its table but the line it starts on differs.
ReaderChanges CompareReaders(const std::vector<ReaderConfig>& running, const std::vector<ReaderConfig>& next);

}  // namespace zendrik::daemon
