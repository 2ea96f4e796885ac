// A mixture density over some parameters: one kernel per observation and a prior.
#pragma once

#include <random>
#include <vector>

#include "param_coordinates.hpp"

namespace tarvex::detail {

using ParzenDim = CoordRange;

class ParzenEstimator {
public:
    // points: one row per observation, a coordinate per dim. A numeric kernel is a Gaussian cut
    // to the bounds whose width is the larger gap to its neighbours (in that coordinate, the
    // prior's centre among them), clipped to [range / min(100, n + 1), range]; a categorical
    // kernel puts its observation's choice ahead of the others, less so with fewer observations.
    // The prior, of weight prior_weight against 1 for each observation, is wide and uniform.
    ParzenEstimator(const std::vector<ParzenDim>& dims, const std::vector<std::vector<double>>& points,
                    double prior_weight);
    // One point: a component by weight, then each coordinate from that component's kernel.
    std::vector<double> sample(std::mt19937_64& rng) const;
    double log_pdf(const std::vector<double>& x) const;

private:
    std::vector<ParzenDim> dims;
    std::vector<double> log_weights;  // per component; the prior is the last
    // Per dim, per component: a numeric kernel's centre, width and log of (its mass inside the
    // bounds times its width), or a categorical kernel's choice (the prior's: -1).
    std::vector<std::vector<double>> mu, sigma, log_mass;
    std::vector<double> log_hit, log_miss;  // per categorical dim: log probability of a kernel's choice and of another
};

}  // namespace tarvex::detail
