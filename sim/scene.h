#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/tag_field.h"

namespace zendrik::sim {

// What happens at one moment of a scene.
enum class SceneAction {
    kEnter,    // the tag comes into the field and stays until it leaves
    kLeave,    // the tag goes out of the field
    kSeeOnce,  // the tag is reported once, by the next inventory round (a replayed read)
    kLoop,     // the scene starts again from time 0, its tags gone from the field
};

struct SceneStep {
    int64_t atMs = 0;  // milliseconds after the scene's time 0
    SceneAction action = SceneAction::kEnter;
    Epc epc;  // empty for kLoop
    uint8_t rssi = kDefaultSignalStrength;

    bool operator==(const SceneStep&) const = default;
};

// The steps of a scene file or a replayed recording, in time order, or why it was refused:
// "FILE:LINE: what is wrong" (error empty when the steps are good).
struct SceneText {
    std::vector<SceneStep> steps;
    std::string error;
};

}  // namespace zendrik::sim
