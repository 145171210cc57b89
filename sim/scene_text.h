#pragma once

#include <string>
#include <string_view>

#include "sim/scene.h"

namespace zendrik::sim {

// Parses a scene: one step a line, in non-decreasing time order.
//   MS enter EPC [rssi=N]   the tag (EPC in hex) comes into the field MS milliseconds after time 0
//   MS leave EPC            it goes out again
//   MS loop                 start again from time 0, the scene's tags gone (MS above 0, last line)
// Blank lines and lines starting with '#' are comments. `name` goes into the refusal.
SceneText ParseScene(std::string_view text, std::string_view name);

}  // namespace zendrik::sim
