// Expected hypervolume improvement beyond three objectives, by quasi-Monte Carlo.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace tarvex::detail {

// The exact region's cells grow as n^(m - 1). Instead, E[HVI] = ∫ P(y ≤ u) du over the region A
// below the reference that no front point dominates (the improvement of y is the part of A it
// dominates; the expectation moves inside by Fubini). Below the front's best value in any
// objective nothing is dominated, so that part of A, (−∞, r] less the box [best, r], integrates
// in closed form (products of one-objective interval expectations); the rest, A within the box,
// is estimated at fixed quasi-random points of it. Fixed points make the estimate a smooth,
// deterministic function of the prediction, so candidates compare without sampling noise. Cost:
// points × m per prediction. Every objective minimised.
class SampledImprovementRegion {
public:
    // shifts: per objective, a finite shift where its prediction is log-normal (y = shift + e^w,
    // w normal), +inf where it is normal.
    // floors as for ImprovementRegion.
    SampledImprovementRegion(const std::vector<std::vector<double>>& front, const std::vector<double>& reference,
                             const std::vector<double>& floors, const std::vector<double>& shifts, int n_points,
                             std::mt19937_64& rng);

    // log E[HVI] for predictions independent over the objectives, N(mean_k, sd_k^2) (of w for a
    // log-normal one); finite and ordered far from the front, where the expectation underflows.
    // With fewer points than it holds, from the first ones alone (the draws that gave them are
    // themselves a quasi-random set): a coarser, cheaper estimate.
    double log_expected_improvement(const std::vector<double>& mean, const std::vector<double>& sd,
                                    std::size_t points = SIZE_MAX) const;

private:
    std::size_t m;
    std::vector<double> floors, lower, reference, shifts;  // the box [lower, reference], above the floors
    std::size_t n = 0;
    std::vector<double> points;  // n × m, row-major; a log-normal objective's coordinate as log(u - shift)
    std::vector<long> drawn_by;  // per point, the draws made up to it
    long drawn = 0;              // all draws made
    double log_volume = 0;       // the log of the box's volume
};

}  // namespace tarvex::detail
