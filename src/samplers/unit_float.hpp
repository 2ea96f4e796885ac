// The value of a float distribution at a fraction of its range, for samplers that draw the
// fraction their own way (at random, or from a low-discrepancy sequence).
#pragma once

#include <algorithm>
#include <cmath>

#include "tarvex/study.hpp"

namespace tarvex::detail {

// The float at fraction u (in [0, 1]) of d's range, on its log scale where it has one, snapped to
// its step (on the untransformed value) and kept in range. A range wider than the largest double
// is interpolated without forming the width.
inline double unit_float(const FloatDist& d, double u) {
    double v;
    if (d.log) {
        const double a = std::log(d.low);
        const double b = std::log(d.high);
        v = std::exp((b - a) * u + a);
    } else {
        const double width = d.high - d.low;
        v = std::isfinite(width) ? width * u + d.low : d.low * (1 - u) + d.high * u;
    }
    if (d.step) {
        const double q = std::round((v - d.low) / *d.step);
        if (std::isfinite(q)) v = *d.step * q + d.low;
    }
    return std::min(d.high, std::max(d.low, v));
}

}  // namespace tarvex::detail
