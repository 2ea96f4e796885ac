#include <cmath>
#include <limits>
#include <optional>

#include "../common/rejection.hpp"
#include "pruner_view.hpp"
#include "tarvex/median_pruner.hpp"

namespace tarvex {

MedianPruner::MedianPruner(int n_startup_trials_, int n_warmup_steps_, double percentile_)
    : n_startup_trials(n_startup_trials_), n_warmup_steps(n_warmup_steps_), percentile(percentile_) {}

MedianPruner::MedianPruner(const MedianPrunerOptions& o)
    : MedianPruner((o.validate(), o.n_startup_trials), o.n_warmup_steps, o.percentile) {}

void MedianPrunerOptions::validate() const {
    if (n_startup_trials < 0) detail::reject("MedianPruner", "n_startup_trials", "at least 0", n_startup_trials);
    if (n_warmup_steps < 0) detail::reject("MedianPruner", "n_warmup_steps", "at least 0", n_warmup_steps);
    if (!(percentile >= 0 && percentile <= 100))
        detail::reject("MedianPruner", "percentile", "from 0 to 100", percentile);
}

namespace {

// A Complete trial's last report, in report order, at a step up to the given one; NaN values
// and trials of other states contribute nothing.
std::optional<double> last_value_up_to(const Trial& t, std::int32_t step) {
    if (t.state != TrialState::Complete) return std::nullopt;
    double at_step = std::numeric_limits<double>::quiet_NaN();
    for (const auto& [s, v] : t.intermediate_values) {
        if (s <= step) at_step = v;
    }
    return std::isnan(at_step) ? std::nullopt : std::optional<double>(at_step);
}

}  // namespace

bool MedianPruner::should_prune(const Study& study, const Trial& trial) {
    if (trial.intermediate_values.empty()) return false;
    const auto& [step, latest] = trial.intermediate_values.back();  // the latest report, not the largest step
    if (step < n_warmup_steps) return false;

    struct Judge {
        detail::ContributionAt contribution;
        const MedianPruner& rule;
        std::int32_t step;
        double latest;
        bool operator()(detail::PrunerView& view) const {
            const auto& column = view.column(step);
            const auto& vals = column.sorted;
            if (rule.n_startup_trials > view.complete || vals.empty()) return false;
            const auto last = static_cast<double>(vals.size() - 1);
            const double x = std::floor(rule.percentile / 100.0 * last);
            // Clamped as a double first, so a NaN or huge percentile never reaches an int conversion.
            const std::size_t i = x >= 0 ? static_cast<std::size_t>(std::min(x, last)) : 0;
            return view.sign * latest > vals[i];
        }
    };
    return detail::judge_on_view(*this, study, Judge{&last_value_up_to, *this, step, latest});
}

std::unique_ptr<PrunerState> MedianPruner::make_state(const Study& study) {
    return std::make_unique<detail::PrunerView>(study, &last_value_up_to);
}

}  // namespace tarvex
