// Expected hypervolume improvement for independent Gaussian (or log-normal) predictions, exact.
#pragma once

#include <vector>

namespace tarvex::detail {

// log E[max(0, upper - max(y, lower))], the part of [lower, upper] above y on average, for
// y ~ N(mu, sd^2) or, with a finite shift, y = shift + e^w with w ~ N(mu, sd^2); -inf where it is 0.
double log_expectation(double lower, double upper, double mu, double sd, double shift);

// Per objective of m, floors[k] (-inf where floors is empty) taken no higher than any front
// point's value: a point the model predicts (a running trial) may lie below an observed floor.
std::vector<double> floors_below(const std::vector<std::vector<double>>& front, const std::vector<double>& floors,
                                 std::size_t m);

// The region below reference that no front point dominates (every objective minimised), as
// columns: a grid over the first m - 1 objectives, cut at every front coordinate, each cell
// reaching down in the last objective, from its floor, up to the lowest last coordinate among the
// front points that dominate its lower corner. (n + 1)^(m - 1) cells for n front points.
class ImprovementRegion {
public:
    // floors: per objective, the value below which it cannot go (-inf, or empty for all, where
    // it is unbounded); taken no higher than the front's lowest value.
    ImprovementRegion(const std::vector<std::vector<double>>& front, const std::vector<double>& reference,
                      const std::vector<double>& floors = {});

    // E[HVI] for a prediction N(mean_k, sd_k^2), independent over the objectives: each cell
    // contributes the product over objectives of E[max(0, upper - max(y, lower))].
    double expected_improvement(const std::vector<double>& mean, const std::vector<double>& sd) const;
    // Its logarithm, computed in logs throughout (each interval's expectation from the tail-safe
    // log of z Φ(z) + φ(z), the cells summed by log-sum-exp), so that it stays finite and ordered
    // far from the front, where the expectation itself underflows; -inf only where it is 0.
    // Where shifts holds a finite shift for an objective, its prediction is log-normal instead:
    // y = shift + e^w, w ~ N(mean, sd^2).
    double log_expected_improvement(const std::vector<double>& mean, const std::vector<double>& sd,
                                    const std::vector<double>& shifts = {}) const;

private:
    std::size_t m;
    std::vector<std::vector<double>> cuts;  // per objective but the last: its floor, the front's values, the reference
    std::vector<double> tops;               // per cell (row-major over the grid): its upper bound in the last objective
    std::vector<double> top_values;         // the distinct tops, ascending
    std::vector<std::size_t> top_index;     // per cell: its top's place in top_values
    double last_reference, last_floor;
};

}  // namespace tarvex::detail
