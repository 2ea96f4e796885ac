#include "expected_hypervolume.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "../common/standard_normal.hpp"

namespace tarvex::detail {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// E[max(0, upper - max(y, lower))] for y ~ N(mu, sd^2): the interval [lower, upper] of y's
// coordinate that lies above y, on average.
double interval_expectation(double lower, double upper, double mu, double sd) {
    if (!(upper > lower)) return 0.0;
    if (sd <= 1e-12) return std::max(0.0, upper - std::max(mu, lower));
    const double zu = (upper - mu) / sd;
    // ∫_{-inf}^{upper} (upper - y) p(y) dy = (upper - mu) Φ(zu) + sd φ(zu)
    const double below_upper = (upper - mu) * normal_cdf(zu) + sd * normal_pdf(zu);
    if (!std::isfinite(lower)) return below_upper;
    const double zl = (lower - mu) / sd;
    // less the part below lower, counted as upper - lower there instead of upper - y
    const double below_lower = (lower - mu) * normal_cdf(zl) + sd * normal_pdf(zl);
    return below_upper - below_lower;
}

// log(z Φ(z) + φ(z)), the expected excess of a standard normal over -z; its tail φ(z) / z^2.
double log_h(double z) {
    if (z > -6) return std::log(z * normal_cdf(z) + normal_pdf(z));
    return -0.5 * z * z - 0.9189385332046727 - 2 * std::log(-z);
}

// The log of interval_expectation: sd h(zu), less sd h(zl) for a finite lower bound.
double log_interval_expectation(double lower, double upper, double mu, double sd) {
    if (!(upper > lower)) return -kInf;
    if (sd <= 1e-12) {
        const double gap = upper - std::max(mu, lower);
        return gap > 0 ? std::log(gap) : -kInf;
    }
    const double zu = (upper - mu) / sd;
    const double upper_part = std::log(sd) + log_h(zu);
    if (!std::isfinite(lower)) return upper_part;
    const double zl = (lower - mu) / sd;
    const double ratio = std::exp(log_h(zl) - log_h(zu));
    // h(zu) - h(zl); where the two are close, Φ at the midpoint times the width (h' = Φ).
    if (ratio < 1 - 1e-6) return upper_part + std::log1p(-ratio);
    return std::log(sd) + log_normal_cdf(0.5 * (zu + zl)) + std::log(zu - zl);
}

// E[max(0, upper - max(y, lower))] for y = shift + e^w, w ~ N(mu, sd^2), as ∫ P(y ≤ t) dt over
// [lower, upper]: with α and β the standardised logs of lower and upper above shift,
//   (upper − lower) Φ(α) + (upper − shift)(Φ(β) − Φ(α)) − e^(mu + sd²/2) (Φ(β − sd) − Φ(α − sd)).
// Deep in the lower tail (β < −6), where those terms cancel, ∫ P(y ≤ t) dt ≈ P(y ≤ upper) times
// the distance over which that probability falls by e, sd (upper − shift) / |β|. Returned as a log.
double log_lognormal_interval_expectation(double lower, double upper, double shift, double mu, double sd) {
    if (!(upper > lower) || !(upper > shift)) return -kInf;
    const double from = std::max(lower, shift);
    if (sd <= 1e-12) {
        const double gap = upper - std::max(shift + std::exp(mu), lower);
        return gap > 0 ? std::log(gap) : -kInf;
    }
    const double beta = (std::log(upper - shift) - mu) / sd;
    // The tail's estimate, at most the interval's width times P(y ≤ upper).
    const auto tail = [&] {
        const double fall = beta < 0 ? sd * (upper - shift) / -beta : kInf;
        return log_normal_cdf(beta) + std::log(std::min(upper - from, fall));
    };
    if (beta < -6) return tail();
    const double alpha = lower > shift ? (std::log(lower - shift) - mu) / sd : -kInf;
    const double below = std::isfinite(alpha) ? (upper - lower) * normal_cdf(alpha) : 0.0;
    const double scale = std::exp(std::min(mu + 0.5 * sd * sd, 700.0));
    const double within = (upper - shift) * (normal_cdf(beta) - normal_cdf(alpha)) -
                          scale * (normal_cdf(beta - sd) - normal_cdf(alpha - sd));
    const double total = below + std::max(within, 0.0);
    return total > 0 ? std::log(total) : tail();
}

}  // namespace

double log_expectation(double lower, double upper, double mu, double sd, double shift) {
    return std::isfinite(shift) ? log_lognormal_interval_expectation(lower, upper, shift, mu, sd)
                                : log_interval_expectation(lower, upper, mu, sd);
}

std::vector<double> floors_below(const std::vector<std::vector<double>>& front, const std::vector<double>& floors,
                                 std::size_t m) {
    std::vector<double> floor(m, -kInf);
    for (std::size_t k = 0; k < m && !floors.empty(); ++k) {
        floor[k] = floors[k];
        for (const auto& p : front) floor[k] = std::min(floor[k], p[k]);
    }
    return floor;
}

ImprovementRegion::ImprovementRegion(const std::vector<std::vector<double>>& front,
                                     const std::vector<double>& reference, const std::vector<double>& floors)
    : m(reference.size()), last_reference(reference.back()) {
    const std::vector<double> floor = floors_below(front, floors, m);
    last_floor = floor[m - 1];
    std::vector<const std::vector<double>*> inside;
    for (const auto& p : front) {
        bool below = true;
        for (std::size_t k = 0; k < m; ++k) below = below && p[k] < reference[k];
        if (below) inside.push_back(&p);
    }
    cuts.resize(m - 1);
    for (std::size_t k = 0; k + 1 < m; ++k) {
        cuts[k].push_back(floor[k]);
        for (const auto* p : inside) cuts[k].push_back((*p)[k]);
        std::sort(cuts[k].begin(), cuts[k].end());
        cuts[k].erase(std::unique(cuts[k].begin(), cuts[k].end()), cuts[k].end());
        cuts[k].push_back(reference[k]);
    }
    std::size_t n_cells = 1;
    for (const auto& c : cuts) n_cells *= c.size() - 1;
    tops.assign(n_cells, last_reference);
    std::vector<std::size_t> index(m - 1, 0);
    for (std::size_t cell = 0; cell < n_cells; ++cell) {
        for (std::size_t k = 0, rest = cell; k + 1 < m; ++k) {
            index[k] = rest % (cuts[k].size() - 1);
            rest /= cuts[k].size() - 1;
        }
        for (const auto* p : inside) {
            bool dominates = true;
            for (std::size_t k = 0; k + 1 < m && dominates; ++k) dominates = (*p)[k] <= cuts[k][index[k]];
            if (dominates) tops[cell] = std::min(tops[cell], (*p)[m - 1]);
        }
    }
    top_values = tops;
    std::sort(top_values.begin(), top_values.end());
    top_values.erase(std::unique(top_values.begin(), top_values.end()), top_values.end());
    for (const double t : tops) {
        top_index.push_back(
            static_cast<std::size_t>(std::lower_bound(top_values.begin(), top_values.end(), t) - top_values.begin()));
    }
}

double ImprovementRegion::expected_improvement(const std::vector<double>& mean, const std::vector<double>& sd) const {
    // Each objective's expectation over each interval of its grid, then a sum over the cells.
    std::vector<std::vector<double>> per(m - 1);
    for (std::size_t k = 0; k + 1 < m; ++k) {
        for (std::size_t i = 0; i + 1 < cuts[k].size(); ++i) {
            per[k].push_back(interval_expectation(cuts[k][i], cuts[k][i + 1], mean[k], sd[k]));
        }
    }
    double total = 0;
    for (std::size_t cell = 0; cell < tops.size(); ++cell) {
        double product = interval_expectation(last_floor, tops[cell], mean[m - 1], sd[m - 1]);
        for (std::size_t k = 0, rest = cell; k + 1 < m && product > 0; ++k) {
            product *= per[k][rest % per[k].size()];
            rest /= per[k].size();
        }
        total += product;
    }
    return total;
}

double ImprovementRegion::log_expected_improvement(const std::vector<double>& mean, const std::vector<double>& sd,
                                                   const std::vector<double>& shifts) const {
    const auto shift = [&](std::size_t k) { return shifts.empty() ? kInf : shifts[k]; };
    std::vector<std::vector<double>> per(m - 1);
    for (std::size_t k = 0; k + 1 < m; ++k) {
        for (std::size_t i = 0; i + 1 < cuts[k].size(); ++i) {
            per[k].push_back(log_expectation(cuts[k][i], cuts[k][i + 1], mean[k], sd[k], shift(k)));
        }
    }
    // The last objective's expectation per distinct top: cells share few of them.
    std::vector<double> last;
    for (const double t : top_values)
        last.push_back(log_expectation(last_floor, t, mean[m - 1], sd[m - 1], shift(m - 1)));
    std::vector<double> terms;
    terms.reserve(tops.size());
    double largest = -kInf;
    for (std::size_t cell = 0; cell < tops.size(); ++cell) {
        double sum = last[top_index[cell]];
        for (std::size_t k = 0, rest = cell; k + 1 < m && sum > -kInf; ++k) {
            sum += per[k][rest % per[k].size()];
            rest /= per[k].size();
        }
        if (sum == -kInf) continue;
        terms.push_back(sum);
        largest = std::max(largest, sum);
    }
    if (terms.empty()) return -kInf;
    double total = 0;
    for (const double t : terms) total += std::exp(t - largest);
    return largest + std::log(total);
}

}  // namespace tarvex::detail
