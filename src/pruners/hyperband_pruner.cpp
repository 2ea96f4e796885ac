#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "pruning_order.hpp"
#include "tarvex/pruners.hpp"

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

HyperbandPruner::HyperbandPruner(int min_resource_, int max_resource_, double reduction_factor_,
                                 int bootstrap_count_)
    : min_resource(min_resource_),
      max_resource(max_resource_),
      reduction_factor(reduction_factor_),
      bootstrap_count(bootstrap_count_),
      rungs(build_rungs(min_resource_, max_resource_, reduction_factor_)) {}

int HyperbandPruner::next_rung(int resource) const {
    const auto it = std::find_if(rungs.begin(), rungs.end(), [&](std::int32_t r) { return r > resource; });
    return it == rungs.end() ? -1 : *it;
}

bool HyperbandPruner::should_prune(const Study& study, const Trial& trial) {
    if (trial.intermediate_values.empty()) return false;
    const auto& latest = trial.intermediate_values.back();
    const auto step = latest.first;
    if (std::find(rungs.begin(), rungs.end(), step) == rungs.end()) return false;

    const double sign = detail::pruning_sign(study);
    const double value = sign * latest.second;
    const std::vector<Trial> trials = study.trials();
    std::vector<double> vals;
    vals.reserve(trials.size());
    for (const Trial& t : trials) {
        if (t.trial_id == trial.trial_id) continue;
        const auto& iv = t.intermediate_values;
        const auto at = std::find_if(iv.begin(), iv.end(), [&](const auto& p) { return p.first == step; });
        if (at != iv.end()) vals.push_back(sign * at->second);
    }
    const auto n = static_cast<std::int64_t>(vals.size());
    if (bootstrap_count > n || n == 0) return false;

    detail::sort_nan_last(vals);
    const double keep = std::ceil(static_cast<double>(n) / reduction_factor);  // in [0, n] for a factor > 1
    const auto k = std::max<std::int64_t>(1, static_cast<std::int64_t>(keep));
    return value > vals[static_cast<std::size_t>(k - 1)];
}

}  // namespace tarvex
