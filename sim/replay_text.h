#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/scene.h"

namespace zendrik::sim {

// Parses the event lines `zendrik read --format json` prints into a scene of reads seen once, at
// their recorded spacing: the first read kept is at time 0. Only read events count; the other
// events are passed over. With `readerId` (24 hex digits, either case) only that reader's reads are
// kept; without it the file must hold the reads of one reader. Blank lines are passed over.
SceneText ParseReplay(std::string_view text, std::string_view name,
                      const std::optional<std::string>& readerId);

}  // namespace zendrik::sim
