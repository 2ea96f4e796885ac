// The standard normal distribution's density, distribution function and its logarithm.
#pragma once

#include <cmath>
#include <numbers>

namespace tarvex::detail {

// φ(z) = exp(-z² / 2) / √(2π)
inline double normal_pdf(double z) { return 0.3989422804014327 * std::exp(-0.5 * z * z); }

// Φ(z) = erfc(-z / √2) / 2
inline double normal_cdf(double z) { return 0.5 * std::erfc(-z / std::numbers::sqrt2); }

// log Φ(z), finite down to z of about -1e150 (the tail's asymptote below -6).
inline double log_normal_cdf(double z) {
    return z > -6 ? std::log(normal_cdf(z)) : -0.5 * z * z - 0.9189385332046727 - std::log(-z);
}

}  // namespace tarvex::detail
