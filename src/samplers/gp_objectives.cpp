#include "gp_objectives.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tarvex/kernels.hpp"
#include "tarvex/random.hpp"
#include "trial_scores.hpp"

namespace tarvex::detail {

ValueOf all_objectives(std::size_t m) {
    return [m](const Trial& t) -> std::optional<double> {
        if (!observed(t, m)) return std::nullopt;
        return t.values.front();
    };
}

ValueOf scalarised_values(const std::vector<const Trial*>& ran, const std::vector<StudyDirection>& directions,
                          std::mt19937_64& rng) {
    const std::size_t m = directions.size();
    std::vector<double> sign(m), low(m, std::numeric_limits<double>::infinity()),
        high(m, -std::numeric_limits<double>::infinity());
    for (std::size_t k = 0; k < m; ++k) sign[k] = directions[k] == StudyDirection::Maximize ? -1.0 : 1.0;
    for (const Trial* t : ran) {
        if (!observed(*t, m)) continue;
        for (std::size_t k = 0; k < m; ++k) {
            low[k] = std::min(low[k], sign[k] * t->values[k]);
            high[k] = std::max(high[k], sign[k] * t->values[k]);
        }
    }
    // Uniform on the simplex: normalised exponential draws.
    std::vector<double> w(m);
    double sum = 0;
    for (double& x : w) sum += x = -std::log(1.0 - utils::unit_draw(rng));
    for (double& x : w) x /= sum;
    return [=](const Trial& t) -> std::optional<double> {
        if (!observed(t, m)) return std::nullopt;
        double largest = -std::numeric_limits<double>::infinity(), total = 0;
        for (std::size_t k = 0; k < m; ++k) {
            const double extent = high[k] - low[k];
            const double f = extent > 0 ? (sign[k] * t.values[k] - low[k]) / extent : 0.0;
            largest = std::max(largest, w[k] * f);
            total += w[k] * f;
        }
        return largest + 0.05 * total;
    };
}

bool ConstraintFits::any_feasible() const { return std::find(feasible.begin(), feasible.end(), 1) != feasible.end(); }

ConstraintFits fit_constraints(const TrainingData& data, const std::vector<const Trial*>& ran,
                               const GPSamplerConfig& config) {
    ConstraintFits fits;
    std::size_t n_constraints = 0;
    for (std::size_t i = 0; i < ran.size(); ++i) {
        const Trial& t = *ran[i];
        const bool holds = data.real[i] && t.state == TrialState::Complete;
        fits.feasible.push_back(holds && t.feasible());
        fits.violation.push_back(holds && !t.constraints.empty()
                                     ? total_violation(t.constraints)
                                     : (holds ? 0.0 : std::numeric_limits<double>::infinity()));
        if (holds) n_constraints = std::max(n_constraints, t.constraints.size());
    }
    for (std::size_t c = 0; c < n_constraints; ++c) {
        std::vector<Eigen::Index> rows;
        std::vector<double> values;
        for (std::size_t i = 0; i < ran.size(); ++i) {
            const Trial& t = *ran[i];
            if (t.state == TrialState::Complete && c < t.constraints.size() && std::isfinite(t.constraints[c])) {
                rows.push_back(static_cast<Eigen::Index>(i));
                values.push_back(t.constraints[c]);
            }
        }
        if (rows.size() < 2) continue;
        const Eigen::VectorXd y =
            Eigen::Map<const Eigen::VectorXd>(values.data(), static_cast<Eigen::Index>(values.size()));
        const double mean = y.mean();
        const double sd = std::sqrt((y.array() - mean).square().mean());
        const double scale = sd > 1e-12 ? sd : 1.0;
        auto gp = std::make_unique<GaussianProcess>(make_kernel(config.kernel, 1.0, 1.0), config.noise_var, 1);
        gp->use_priors = config.use_priors;
        gp->max_fit_rows = config.max_fit_rows;
        gp->fit(data.X(rows, Eigen::all), (y.array() - mean) / scale, true);
        fits.view.push_back({gp.get(), -mean / scale});
        fits.models.push_back(std::move(gp));
    }
    return fits;
}

}  // namespace tarvex::detail
