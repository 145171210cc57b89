#include "daemon/readers/request_router.h"

#include <cstdio>
#include <memory>
#include <utility>
#include <variant>

namespace zendrik::daemon {

std::optional<int32_t> RequestRouter::Submit(ReaderSource& source, const ReaderRequest& request,
                                             Completion done) {
    const std::variant<uint64_t, int32_t> queued = source.Submit(request);
    if (const int32_t* code = std::get_if<int32_t>(&queued)) {
        return *code;
    }
    pending_.emplace(std::get<uint64_t>(queued), std::move(done));
    return std::nullopt;
}

bool RequestRouter::Hand(const RequestEnd& completed) {
    const auto waiting = pending_.find(completed.request_id);
    if (waiting == pending_.end()) {
        return false;
    }
    // Taken out first: the one who waited may queue the next request from its handler.
    Completion done = std::move(waiting->second);
    pending_.erase(waiting);
    done(completed);
    return true;
}

void RequestRouter::FailAll(const std::string& why) {
    std::map<uint64_t, Completion> pending;
    pending.swap(pending_);
    auto failed = std::make_unique<RequestEnd>();  // large: not on the stack
    failed->kind = ZENDRIK_EVENT_COMPLETED;
    failed->result = ZENDRIK_ERR_CANCELLED;
    std::snprintf(failed->message, sizeof failed->message, "%s", why.c_str());
    for (auto& [id, done] : pending) {
        failed->request_id = id;
        done(*failed);
    }
}

}  // namespace zendrik::daemon
