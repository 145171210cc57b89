#pragma once

#include <optional>
#include <set>
#include <string>

namespace zendrik::daemon {

// The readers whose retained status this site may have left on the broker, one name a line in a
// small file beside the spool (PATH.statuses). A reader taken out of the configuration keeps its
// name here until the broker has acknowledged the empty retained message that clears its status,
// so that this also happens at the next start when the daemon was stopped before. The broker
// itself is not asked (a subscription to PREFIX/SITE/+/status): the daemon's user may well be
// allowed to publish there and not to subscribe.
class RetainedStatuses {
  public:
    // Reads the file; a missing one names no reader.
    explicit RetainedStatuses(std::string path);

    const std::set<std::string>& names() const { return names_; }
    // Writes the names when they changed: whole, through a new file renamed over the old.
    // The reason when it could not be written (the names are kept in memory all the same).
    std::optional<std::string> Save(const std::set<std::string>& names);

  private:
    std::string path_;
    std::set<std::string> names_;
};

}  // namespace zendrik::daemon
