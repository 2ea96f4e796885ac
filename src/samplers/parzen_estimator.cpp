#include "parzen_estimator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "../common/standard_normal.hpp"
#include "tarvex/random.hpp"

namespace tarvex::detail {
namespace {

// The widths of the kernels centred at mus (the last one the prior's, which is the range).
std::vector<double> widths(const std::vector<double>& mus, double low, double high) {
    const std::size_t n = mus.size();
    const double range = high - low;
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return mus[a] < mus[b]; });
    const double floor = range / std::min(100.0, static_cast<double>(n));
    std::vector<double> out(n);
    for (std::size_t r = 0; r < n; ++r) {
        const double left = r > 0 ? mus[order[r]] - mus[order[r - 1]] : mus[order[r]] - low;
        const double right = r + 1 < n ? mus[order[r + 1]] - mus[order[r]] : high - mus[order[r]];
        out[order[r]] = std::clamp(std::max(left, right), floor, range);
    }
    out.back() = range;
    return out;
}

}  // namespace

ParzenEstimator::ParzenEstimator(const std::vector<ParzenDim>& dims_, const std::vector<std::vector<double>>& points,
                                 double prior_weight)
    : dims(dims_) {
    const std::size_t n = points.size();
    const double total = static_cast<double>(n) + prior_weight;
    log_weights.assign(n, -std::log(total));
    log_weights.push_back(std::log(prior_weight / total));
    for (std::size_t d = 0; d < dims.size(); ++d) {
        const ParzenDim& dim = dims[d];
        std::vector<double> centres(n + 1);
        for (std::size_t i = 0; i < n; ++i) centres[i] = points[i][d];
        if (dim.categorical) {
            centres[n] = -1;
            // A kernel's choice has weight 1 + tau against tau for each choice; tau shrinks as
            // observations accumulate.
            const double tau = 1.0 / static_cast<double>(n + 1);
            const double k = dim.n_choices;
            log_hit.push_back(std::log((1 + tau) / (1 + k * tau)));
            log_miss.push_back(std::log(tau / (1 + k * tau)));
            mu.push_back(std::move(centres));
            sigma.emplace_back();
            log_mass.emplace_back();
            continue;
        }
        log_hit.push_back(0);
        log_miss.push_back(0);
        centres[n] = 0.5 * (dim.low + dim.high);
        std::vector<double> w = widths(centres, dim.low, dim.high);
        std::vector<double> mass(n + 1);
        for (std::size_t i = 0; i <= n; ++i) {
            const double m = normal_cdf((dim.high - centres[i]) / w[i]) - normal_cdf((dim.low - centres[i]) / w[i]);
            mass[i] = std::log(std::max(m, 1e-300)) + std::log(w[i]);  // with the width's log
        }
        mu.push_back(std::move(centres));
        sigma.push_back(std::move(w));
        log_mass.push_back(std::move(mass));
    }
}

std::vector<double> ParzenEstimator::sample(std::mt19937_64& rng) const {
    // A component by weight.
    const double u = utils::unit_draw(rng);
    double cumulative = 0;
    std::size_t j = log_weights.size() - 1;
    for (std::size_t c = 0; c < log_weights.size(); ++c) {
        cumulative += std::exp(log_weights[c]);
        if (u < cumulative) {
            j = c;
            break;
        }
    }
    std::vector<double> x(dims.size());
    for (std::size_t d = 0; d < dims.size(); ++d) {
        const ParzenDim& dim = dims[d];
        if (dim.categorical) {
            const int own = static_cast<int>(mu[d][j]);
            const auto k = static_cast<std::uint64_t>(dim.n_choices);
            if (own < 0) {
                x[d] = static_cast<double>(utils::bounded_draw(rng, k - 1));
            } else {
                const double hit = std::exp(log_hit[d]);
                x[d] = utils::unit_draw(rng) < hit - std::exp(log_miss[d])
                           ? own
                           : static_cast<double>(utils::bounded_draw(rng, k - 1));
            }
            continue;
        }
        double v = std::numeric_limits<double>::quiet_NaN();
        for (int attempt = 0; attempt < 32; ++attempt) {
            const double draw = mu[d][j] + sigma[d][j] * utils::normal_draw(rng);
            if (dim.low <= draw && draw <= dim.high) {
                v = draw;
                break;
            }
        }
        if (std::isnan(v)) v = dim.low + (dim.high - dim.low) * utils::unit_draw(rng);
        x[d] = v;
    }
    return x;
}

double ParzenEstimator::log_pdf(const std::vector<double>& x) const {
    const std::size_t n = log_weights.size();
    std::vector<double> terms(log_weights);
    constexpr double kHalfLog2Pi = 0.91893853320467274178;
    for (std::size_t d = 0; d < dims.size(); ++d) {
        if (dims[d].categorical) {
            for (std::size_t j = 0; j < n; ++j) {
                const double own = mu[d][j];
                terms[j] += own < 0 ? -std::log(static_cast<double>(dims[d].n_choices))
                                    : (own == x[d] ? log_hit[d] : log_miss[d]);
            }
            continue;
        }
        const double* m = mu[d].data();
        const double* s = sigma[d].data();
        const double* z = log_mass[d].data();
        for (std::size_t j = 0; j < n; ++j) {
            const double t = (x[d] - m[j]) / s[j];
            terms[j] += -0.5 * t * t - kHalfLog2Pi - z[j];
        }
    }
    const double top = *std::max_element(terms.begin(), terms.end());
    double sum = 0;
    for (const double t : terms) sum += std::exp(t - top);
    return top + std::log(sum);
}

}  // namespace tarvex::detail
