#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace zendrik::bench {

// The value below which `share` (0 to 1) of the values lie, by the nearest rank below; 0 for none.
inline double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

}  // namespace zendrik::bench
