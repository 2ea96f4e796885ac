#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "../common/rejection.hpp"
#include "pruner_view.hpp"
#include "tarvex/hyperband_pruner.hpp"

namespace tarvex {
namespace {

constexpr std::size_t kMaxRungs = std::size_t{1} << 20;

std::vector<std::int32_t> build_rungs(int min_resource, int max_resource, double factor) {
    // Checked for every ladder: the keep-share at a rung divides by the factor.
    if (!(factor > 1) || !std::isfinite(factor)) {
        throw std::invalid_argument("HyperbandPruner: reduction_factor must be a finite number greater than 1.");
    }
    if (min_resource > max_resource) return {max_resource};
    if (min_resource <= 0) throw std::invalid_argument("HyperbandPruner: min_resource must be at least 1.");
    std::vector<std::int32_t> rungs;
    double r = min_resource;  // carried unrounded between rungs
    // Compared as a double: the product that passes max_resource ends the ladder and is never a
    // step itself, so it may lie beyond the int range.
    double rung = min_resource;
    while (rung <= max_resource) {
        // A factor just above 1 grows the ladder by one rounding step at a time, or not at all.
        if (rungs.size() == kMaxRungs) {
            throw std::invalid_argument(
                "HyperbandPruner: reduction_factor is too close to 1: the rung ladder would exceed 1048576 rungs.");
        }
        rungs.push_back(static_cast<std::int32_t>(rung));
        r *= factor;
        rung = std::trunc(r);
    }
    if (rungs.back() < max_resource) rungs.push_back(max_resource);
    return rungs;
}

}  // namespace

HyperbandPruner::HyperbandPruner(int min_resource_, int max_resource_, double reduction_factor_, int bootstrap_count_)
    : min_resource(min_resource_),
      max_resource(max_resource_),
      reduction_factor(reduction_factor_),
      bootstrap_count(bootstrap_count_),
      rungs(build_rungs(min_resource_, max_resource_, reduction_factor_)) {}

HyperbandPruner::HyperbandPruner(const HyperbandPrunerOptions& o)
    : HyperbandPruner((o.validate(), o.min_resource), o.max_resource, o.reduction_factor, o.bootstrap_count) {}

void HyperbandPrunerOptions::validate() const {
    if (min_resource < 1) detail::reject("HyperbandPruner", "min_resource", "at least 1", min_resource);
    if (max_resource < min_resource) {
        throw std::invalid_argument("HyperbandPruner: min_resource must be at most max_resource, got min_resource=" +
                                    std::to_string(min_resource) + " and max_resource=" + std::to_string(max_resource) +
                                    ".");
    }
    if (!(reduction_factor > 1) || !std::isfinite(reduction_factor)) {
        detail::reject("HyperbandPruner", "reduction_factor", "a finite number above 1", reduction_factor);
    }
    if (bootstrap_count < 0) detail::reject("HyperbandPruner", "bootstrap_count", "at least 0", bootstrap_count);
}

int HyperbandPruner::next_rung(int resource) const {
    const auto it = std::find_if(rungs.begin(), rungs.end(), [&](std::int32_t r) { return r > resource; });
    return it == rungs.end() ? -1 : *it;
}

namespace {

// A trial's first report at exactly the step, whatever its state; NaN values count.
std::optional<double> first_value_at(const Trial& t, std::int32_t step) {
    const auto& iv = t.intermediate_values;
    const auto at = std::find_if(iv.begin(), iv.end(), [&](const auto& p) { return p.first == step; });
    return at == iv.end() ? std::nullopt : std::optional<double>(at->second);
}

}  // namespace

bool HyperbandPruner::should_prune(const Study& study, const Trial& trial) {
    if (trial.intermediate_values.empty()) return false;
    const auto& [step, latest] = trial.intermediate_values.back();
    if (std::find(rungs.begin(), rungs.end(), step) == rungs.end()) return false;

    struct Judge {
        detail::ContributionAt contribution;
        const HyperbandPruner& rule;
        const Trial& trial;
        std::int32_t step;
        double latest;
        bool operator()(detail::PrunerView& view) const {
            const auto& column = view.column(step);
            // The judged trial itself does not count, should its storage hold it already.
            std::optional<double> own;
            if (const auto it = view.cache.trials().find(trial.trial_id); it != view.cache.trials().end()) {
                own = contribution(*it->second, step);
            }
            const std::int64_t n = column.size() - (own ? 1 : 0);
            if (rule.bootstrap_count > n || n == 0) return false;
            const double keep =
                std::ceil(static_cast<double>(n) / rule.reduction_factor);  // in [0, n] for a factor > 1
            const auto k = std::max<std::int64_t>(1, static_cast<std::int64_t>(keep));
            std::vector<double> others;
            const std::vector<double>* sorted = &column.sorted;
            if (own && !std::isnan(*own)) {  // the rare case: leave one copy of its value out
                others = column.sorted;
                others.erase(std::lower_bound(others.begin(), others.end(), view.sign * *own));
                sorted = &others;
            }
            // Ascending, NaN last: the k-th smallest is NaN past the numbers, and nothing exceeds NaN.
            const auto index = static_cast<std::size_t>(k - 1);
            return index < sorted->size() && view.sign * latest > (*sorted)[index];
        }
    };
    return detail::judge_on_view(*this, study, Judge{&first_value_at, *this, trial, step, latest});
}

std::unique_ptr<PrunerState> HyperbandPruner::make_state(const Study& study) {
    return std::make_unique<detail::PrunerView>(study, &first_value_at);
}

}  // namespace tarvex
