// The ordering both pruners sort by.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace tarvex::detail {

// Ascending, NaN after every number: a strict weak order in which NaN is never the better value.
inline void sort_nan_last(std::vector<double>& values) {
    std::sort(values.begin(), values.end(), [](double a, double b) {
        if (std::isnan(a)) return false;
        return std::isnan(b) || a < b;
    });
}

}  // namespace tarvex::detail
