// What a GPSampler keeps of one study between its proposals.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "tarvex/sampler.hpp"

namespace tarvex::detail {

// A GP models one value: a study of several directions is refused, before any trial runs and
// on any proposal asked of it directly, unless the sampler scalarises them.
inline void require_single_objective(std::size_t n_directions, bool scalarised) {
    if (n_directions != 1 && !scalarised) {
        throw std::invalid_argument("GPSampler: a multi-objective study (" + std::to_string(n_directions) +
                                    " directions) cannot be sampled by a GP over one value; use RandomSampler.");
    }
}

// A reference point holds one finite value per objective.
inline void require_reference(std::size_t n_directions, const std::vector<double>& reference_point) {
    if (!reference_point.empty() && reference_point.size() != n_directions) {
        throw std::invalid_argument("GPSampler: reference_point has " + std::to_string(reference_point.size()) +
                                    " values; the study has " + std::to_string(n_directions) + " objectives.");
    }
}

struct GPStudyState : SamplerState {
    std::vector<std::string> layout;  // the space's parameter names at the last fit, in column order
    Eigen::VectorXd kernel_params;    // where the last fit ended, to start the next one from
    double noise_var = 0;
    int fits_since_restarts = 0;  // warm fits since the last one with random restarts
    int recommendations = 0;      // made for the study, which decides the local ones
    // The same for the models of several objectives, one each.
    std::vector<Eigen::VectorXd> objective_kernel_params;
    std::vector<double> objective_noise_vars;
    int objective_fits = 0;
};

}  // namespace tarvex::detail
