#include "sim/scene_player.h"

#include <algorithm>

namespace zendrik::sim {

ScenePlayer::ScenePlayer(Reader& reader, std::vector<SceneStep> steps)
    : reader_(reader), steps_(std::move(steps)) {}

void ScenePlayer::AdvanceTo(int64_t elapsedMs) {
    SkipWholeLoops(elapsedMs);
    while (next_ < steps_.size() && loopStartMs_ + steps_[next_].atMs <= elapsedMs) {
        const SceneStep& step = steps_[next_];
        if (step.action == SceneAction::kLoop) {
            EmptyField();
            loopStartMs_ += step.atMs;
            next_ = 0;
            SkipWholeLoops(elapsedMs);
            continue;
        }
        Carry(step);
        ++next_;
    }
}

std::optional<int64_t> ScenePlayer::NextDueMs() const {
    if (next_ >= steps_.size()) {
        return std::nullopt;
    }
    return loopStartMs_ + steps_[next_].atMs;
}

// At the start of a pass the field holds none of the scene's tags, so passes that ended before
// `elapsedMs` (a shared time 0 long past) leave nothing behind and need not be played one by one.
void ScenePlayer::SkipWholeLoops(int64_t elapsedMs) {
    if (next_ != 0 || steps_.empty() || steps_.back().action != SceneAction::kLoop) {
        return;
    }
    const int64_t periodMs = steps_.back().atMs;
    const int64_t behindMs = elapsedMs - loopStartMs_;
    if (behindMs >= periodMs) {
        loopStartMs_ += behindMs / periodMs * periodMs;
    }
}

void ScenePlayer::Carry(const SceneStep& step) {
    switch (step.action) {
        case SceneAction::kEnter:
            reader_.EnterTag(step.epc, step.rssi);
            if (std::find(entered_.begin(), entered_.end(), step.epc) == entered_.end()) {
                entered_.push_back(step.epc);
            }
            break;
        case SceneAction::kLeave:
            reader_.LeaveTag(step.epc);
            std::erase(entered_, step.epc);
            break;
        case SceneAction::kSeeOnce:
            reader_.SeeTagOnce(step.epc, step.rssi);
            break;
        case SceneAction::kLoop:
            break;
    }
}

void ScenePlayer::EmptyField() {
    for (const Epc& epc : entered_) {
        reader_.LeaveTag(epc);
    }
    entered_.clear();
}

}  // namespace zendrik::sim
