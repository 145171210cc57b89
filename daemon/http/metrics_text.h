#pragma once

#include <string>

#include "daemon/common/snapshot.h"

namespace zendrik::daemon {

// The content type of MetricsText, as Prometheus asks for it.
inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// The site in the Prometheus text exposition format 0.0.4: each family with its HELP and TYPE,
// counters ending in _total, times in seconds, labels `reader` and `event` only.
std::string MetricsText(const SiteSnapshot& site);

}  // namespace zendrik::daemon
