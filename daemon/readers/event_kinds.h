#pragma once

#include <string>
#include <vector>

namespace zendrik::daemon {

// The names of every kind of event the daemon publishes and streams, as their "event" says: a
// reader's own (read, arrived, departed and its link's), then the daemon's (settings, spool).
std::vector<std::string> PublishedEventKinds();

}  // namespace zendrik::daemon
