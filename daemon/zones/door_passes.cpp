#include "daemon/zones/door_passes.h"

#include <algorithm>

namespace zendrik::daemon {
namespace {

// A read exactly settle_ms after the last one still belongs to the pass: it is over only once
// the gap is longer.
constexpr int64_t kLongerByMs = 1;

}  // namespace

DoorPasses::DoorPasses(const DoorConfig& door) : door_(door) {
    for (const std::string& reader : door_.outside) {
        sideOfReader_.emplace(reader, DoorSide::kOutside);
    }
    for (const std::string& reader : door_.inside) {
        sideOfReader_.emplace(reader, DoorSide::kInside);
    }
}

int64_t DoorPasses::DueOf(const Pass& pass) const {
    return pass.lastMs + door_.settleMs + kLongerByMs;
}

void DoorPasses::Read(const Sighting& read, std::vector<Passage>& passages) {
    const auto sideOf = sideOfReader_.find(read.reader);
    if (sideOf == sideOfReader_.end()) {
        return;
    }
    AdvanceTo(read.timeMs, passages);
    const int64_t atMs = nowMs_;
    const DoorSide side = sideOf->second;
    const auto [found, first] = passes_.try_emplace(read.epc);
    Pass& pass = found->second;
    if (first) {
        pass.firstSide = side;
    } else {
        due_.erase({DueOf(pass), read.epc});
    }
    pass.lastSide = side;
    pass.lastMs = atMs;
    pass.card = read.card;
    std::optional<int64_t>& sideAt = side == DoorSide::kOutside ? pass.outsideAtMs : pass.insideAtMs;
    if (!sideAt) {
        sideAt = atMs;
    }
    due_.emplace(DueOf(pass), read.epc);
}

void DoorPasses::AdvanceTo(int64_t nowMs, std::vector<Passage>& passages) {
    while (!due_.empty() && due_.begin()->first <= nowMs) {
        const std::string epc = due_.begin()->second;
        due_.erase(due_.begin());
        const auto found = passes_.find(epc);
        End(epc, found->second, passages);
        passes_.erase(found);
    }
    nowMs_ = std::max(nowMs_, nowMs);
}

void DoorPasses::EndAll(std::vector<Passage>& passages) {
    for (const auto& [dueMs, epc] : due_) {
        End(epc, passes_.at(epc), passages);
    }
    due_.clear();
    passes_.clear();
}

std::optional<int64_t> DoorPasses::NextDueMs() const {
    if (due_.empty()) {
        return std::nullopt;
    }
    return due_.begin()->first;
}

void DoorPasses::End(const std::string& epc, const Pass& pass, std::vector<Passage>& passages) const {
    if (pass.firstSide == pass.lastSide) {
        return;  // one side only, or turned back
    }
    passages.push_back(Passage{door_.name, epc, pass.card, pass.firstSide == DoorSide::kOutside, pass.lastMs,
                               pass.outsideAtMs.value_or(0), pass.insideAtMs.value_or(0)});
}

}  // namespace zendrik::daemon
