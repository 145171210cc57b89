#include "daemon/readers/reader_changes.h"

#include <algorithm>

namespace zendrik::daemon {
namespace {

const ReaderConfig* Named(const std::vector<ReaderConfig>& readers, const std::string& name) {
    const auto found = std::find_if(readers.begin(), readers.end(),
                                    [&](const ReaderConfig& reader) { return reader.name == name; });
    return found != readers.end() ? &*found : nullptr;
}

bool SameApartFromLine(ReaderConfig a, ReaderConfig b) {
    a.line = 0;
    b.line = 0;
    return a == b;
}

}  // namespace

ReaderChanges CompareReaders(const std::vector<ReaderConfig>& running,
                             const std::vector<ReaderConfig>& next) {
    ReaderChanges changes;
    for (const ReaderConfig& reader : running) {
        if (Named(next, reader.name) == nullptr) {
            changes.removed.push_back(reader.name);
        }
    }
    for (const ReaderConfig& reader : next) {
        const ReaderConfig* before = Named(running, reader.name);
        if (before == nullptr) {
            changes.added.push_back(reader);
        } else if (!SameApartFromLine(*before, reader)) {
            changes.changed.push_back(reader);
        }
    }
    return changes;
}

}  // namespace zendrik::daemon
