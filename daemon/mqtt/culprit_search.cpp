#include "daemon/mqtt/culprit_search.h"

#include <algorithm>
#include <iterator>

namespace zendrik::daemon {
namespace {

std::vector<int64_t> Common(const std::vector<int64_t>& sortedA, const std::vector<int64_t>& sortedB) {
    std::vector<int64_t> common;
    std::set_intersection(sortedA.begin(), sortedA.end(), sortedB.begin(), sortedB.end(),
                          std::back_inserter(common));
    return common;
}

void EraseSorted(std::vector<int64_t>& sorted, int64_t row) {
    const auto found = std::lower_bound(sorted.begin(), sorted.end(), row);
    if (found != sorted.end() && *found == row) {
        sorted.erase(found);
    }
}

}  // namespace

std::optional<int64_t> CulpritSearch::Lost(std::vector<int64_t> rowsInFlight, bool othersInFlight) {
    if (rowsInFlight.empty()) {
        return std::nullopt;
    }
    std::sort(rowsInFlight.begin(), rowsInFlight.end());
    if (searching()) {
        std::vector<int64_t> narrowed = Common(rowsInFlight, suspects_);
        suspects_ = narrowed.empty() ? rowsInFlight : std::move(narrowed);
    } else {
        suspects_ = Common(rowsInFlight, lastLost_);
    }
    lastLost_ = std::move(rowsInFlight);
    if (suspects_.size() != 1 || othersInFlight || lastLost_.size() != 1) {
        return std::nullopt;
    }
    const int64_t row = suspects_.front();
    loneLosses_ = row == lone_ ? loneLosses_ + 1 : 1;
    lone_ = row;
    if (loneLosses_ < kLoneLossesToBlame) {
        return std::nullopt;
    }
    *this = CulpritSearch();
    return row;
}

void CulpritSearch::Settled(int64_t row) {
    EraseSorted(lastLost_, row);
    EraseSorted(suspects_, row);
    if (row == lone_) {
        lone_ = 0;
        loneLosses_ = 0;
    }
}

}  // namespace zendrik::daemon
