#include "session/cut_results.h"

#include <algorithm>
#include <utility>

namespace zendrik::session {

void CutResults::Keep(uint64_t requestId, std::string json) {
    const std::lock_guard lock(mutex_);
    if (kept_.size() >= kKept) {
        kept_.pop_front();
    }
    kept_.push_back(Kept{requestId, std::move(json)});
}

std::optional<std::string> CutResults::Find(uint64_t requestId) const {
    const std::lock_guard lock(mutex_);
    const auto found = std::find_if(kept_.begin(), kept_.end(),
                                    [requestId](const Kept& kept) { return kept.requestId == requestId; });
    if (found == kept_.end()) {
        return std::nullopt;
    }
    return found->json;
}

}  // namespace zendrik::session
