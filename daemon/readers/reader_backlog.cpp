#include "daemon/readers/reader_backlog.h"

#include <utility>

namespace zendrik::daemon {

void ReaderBacklog::AddTaken(const zendrik_event& event) {
    entries_.emplace_back(event);
    ++taken_;
}

void ReaderBacklog::AddOwn(OwnEvent event) {
    entries_.emplace_back(std::move(event));
}

void ReaderBacklog::PopFront() {
    if (std::holds_alternative<zendrik_event>(entries_.front())) {
        --taken_;
    }
    entries_.pop_front();
}

}  // namespace zendrik::daemon
