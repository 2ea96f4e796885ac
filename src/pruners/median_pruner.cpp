#include <cmath>
#include <limits>

#include "pruning_order.hpp"
#include "tarvex/pruners.hpp"

namespace tarvex {

MedianPruner::MedianPruner(int n_startup_trials_, int n_warmup_steps_, double percentile_)
    : n_startup_trials(n_startup_trials_), n_warmup_steps(n_warmup_steps_), percentile(percentile_) {}

bool MedianPruner::should_prune(const Study& study, const Trial& trial) {
    if (trial.intermediate_values.empty()) return false;
    const auto& latest = trial.intermediate_values.back();
    const auto step = latest.first;
    if (step < n_warmup_steps) return false;

    const double sign = detail::pruning_sign(study);
    const double value = sign * latest.second;  // the latest report, not the largest step
    const std::vector<Trial> trials = study.trials();
    std::int64_t completed = 0;
    std::vector<double> vals;
    vals.reserve(trials.size());
    for (const Trial& t : trials) {
        if (t.state != TrialState::Complete) continue;
        ++completed;
        double at_step = std::numeric_limits<double>::quiet_NaN();
        for (const auto& [s, v] : t.intermediate_values) {
            if (s <= step) at_step = v;
        }
        if (!std::isnan(at_step)) vals.push_back(sign * at_step);
    }
    if (n_startup_trials > completed || vals.empty()) return false;

    detail::sort_nan_last(vals);
    const auto last = static_cast<double>(vals.size() - 1);
    const double x = std::floor(percentile / 100.0 * last);
    // Clamped as a double first, so a NaN or huge percentile never reaches an int conversion.
    const std::size_t i = x >= 0 ? static_cast<std::size_t>(std::min(x, last)) : 0;
    return value > vals[i];
}

}  // namespace tarvex
