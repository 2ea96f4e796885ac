#include "sampled_improvement.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "../common/standard_normal.hpp"
#include "expected_hypervolume.hpp"
#include "tarvex/random.hpp"

namespace tarvex::detail {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// log(e^a + e^b)
double log_add(double a, double b) {
    if (a < b) std::swap(a, b);
    return b == -kInf ? a : a + std::log1p(std::exp(b - a));
}

// Draws beyond which a box the front covers almost whole is left with fewer points.
constexpr int kDrawsPerPoint = 64;

}  // namespace

SampledImprovementRegion::SampledImprovementRegion(const std::vector<std::vector<double>>& front,
                                                   const std::vector<double>& reference,
                                                   const std::vector<double>& floors_,
                                                   const std::vector<double>& shifts, int n_points,
                                                   std::mt19937_64& rng)
    : m(reference.size()), floors(floors_below(front, floors_, m)), lower(m), reference(reference), shifts(shifts) {
    std::vector<const std::vector<double>*> inside;
    for (const auto& p : front) {
        bool below = true;
        for (std::size_t k = 0; k < m; ++k) below = below && p[k] < reference[k];
        if (below) inside.push_back(&p);
    }
    if (inside.empty()) return;  // A is all of [floors, r]: the closed form alone
    std::vector<double> width(m);
    for (std::size_t k = 0; k < m; ++k) {
        lower[k] = reference[k];
        for (const auto* p : inside) lower[k] = std::min(lower[k], (*p)[k]);
        width[k] = reference[k] - lower[k];
    }
    std::vector<double> offset(m);
    for (double& o : offset) o = utils::unit_draw(rng);
    std::vector<double> u(m);
    const auto wanted = static_cast<std::size_t>(std::max(n_points, 1));
    while (n < wanted && drawn < static_cast<long>(wanted) * kDrawsPerPoint) {
        ++drawn;
        for (std::size_t k = 0; k < m; ++k) {
            // Halton's first dimensions, shifted (Cranley–Patterson) so proposals differ; past
            // its primes, plain draws.
            const double h = k < utils::halton_primes.size()
                                 ? utils::radical_inverse(drawn, utils::halton_primes[k]) + offset[k]
                                 : utils::unit_draw(rng);
            u[k] = lower[k] + width[k] * (h - std::floor(h));
        }
        const bool dominated = std::any_of(inside.begin(), inside.end(), [&](const std::vector<double>* p) {
            for (std::size_t k = 0; k < m; ++k) {
                if ((*p)[k] > u[k]) return false;
            }
            return true;
        });
        if (dominated) continue;
        for (std::size_t k = 0; k < m; ++k) {
            const bool lognormal = std::isfinite(shifts[k]);
            points.push_back(lognormal ? (u[k] > shifts[k] ? std::log(u[k] - shifts[k]) : -kInf) : u[k]);
        }
        drawn_by.push_back(drawn);
        ++n;
    }
    for (const double w : width) log_volume += std::log(w);
}

double SampledImprovementRegion::log_expected_improvement(const std::vector<double>& mean,
                                                          const std::vector<double>& sd,
                                                          std::size_t points_used) const {
    // Outside the box: ∫ over [floors, r] less the same over the box, each a product over objectives.
    double log_all = 0, log_within = 0;
    for (std::size_t k = 0; k < m; ++k) {
        log_all += log_expectation(floors[k], reference[k], mean[k], sd[k], shifts[k]);
        log_within += n == 0 ? -kInf : log_expectation(lower[k], reference[k], mean[k], sd[k], shifts[k]);
    }
    const double outside = log_within < log_all ? log_all + std::log1p(-std::exp(log_within - log_all)) : -kInf;
    if (n == 0) return outside;
    const std::size_t used = std::clamp<std::size_t>(points_used, 1, n);
    const double log_cell = log_volume - std::log(static_cast<double>(used == n ? drawn : drawn_by[used - 1]));
    // Within it: the points' P(y ≤ u), summed as it is, in logs only where that underflows.
    const auto z_of = [&](std::size_t i, std::size_t k) {
        const double t = points[i * m + k];
        if (sd[k] > 1e-12) return (t - mean[k]) / sd[k];
        return t >= mean[k] ? kInf : -kInf;
    };
    // Beyond 9 standard deviations Φ is taken as 0 or 1: each point then errs by under 1e-19,
    // negligible where the sum is kept (over 1e-12), and most points skip the error function
    // once the predictions are narrow.
    double total = 0;
    for (std::size_t i = 0; i < used; ++i) {
        double product = 1;
        for (std::size_t k = 0; k < m && product > 0; ++k) {
            const double z = z_of(i, k);
            product *= z < -9 ? 0.0 : z > 9 ? 1.0 : normal_cdf(z);
        }
        total += product;
    }
    if (total > 1e-12) return log_add(outside, std::log(total) + log_cell);
    double largest = -kInf;
    std::vector<double> terms(used);
    for (std::size_t i = 0; i < used; ++i) {
        double sum = 0;
        for (std::size_t k = 0; k < m && sum > -kInf; ++k) {
            const double z = z_of(i, k);
            sum += z == -kInf ? -kInf : z == kInf ? 0.0 : log_normal_cdf(z);
        }
        terms[i] = sum;
        largest = std::max(largest, sum);
    }
    if (largest == -kInf) return outside;
    double scaled = 0;
    for (const double t : terms) scaled += std::exp(t - largest);
    return log_add(outside, largest + std::log(scaled) + log_cell);
}

}  // namespace tarvex::detail
