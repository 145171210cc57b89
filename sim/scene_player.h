#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/reader.h"
#include "sim/scene.h"

namespace zendrik::sim {

// Plays a scene's steps into a reader's field as time goes on. It keeps no clock of its own: it is
// told how long after time 0 it is (AdvanceTo), so a test plays a scene in simulated time and the
// program with the system clock.
class ScenePlayer {
  public:
    // `steps` in non-decreasing time order, as ParseScene and ParseReplay give them.
    ScenePlayer(Reader& reader, std::vector<SceneStep> steps);

    // Carries out every step due by `elapsedMs` after time 0 (nothing before time 0).
    void AdvanceTo(int64_t elapsedMs);
    // When the next step is due, in milliseconds after time 0; nothing when the scene is over.
    std::optional<int64_t> NextDueMs() const;

  private:
    void Carry(const SceneStep& step);
    void EmptyField();
    void SkipWholeLoops(int64_t elapsedMs);

    Reader& reader_;
    std::vector<SceneStep> steps_;
    std::size_t next_ = 0;
    int64_t loopStartMs_ = 0;   // time 0 of the current pass through a looping scene
    std::vector<Epc> entered_;  // the scene's tags in the field now
};

}  // namespace zendrik::sim
