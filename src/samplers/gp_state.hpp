// What a GPSampler keeps of one study between its proposals.
#pragma once

#include <Eigen/Core>
#include <string>
#include <vector>

#include "tarvex/sampler.hpp"

namespace tarvex::detail {

struct GPStudyState : SamplerState {
    std::vector<std::string> layout;  // the space's parameter names at the last fit, in column order
    Eigen::VectorXd kernel_params;    // where the last fit ended, to start the next one from
    double noise_var = 0;
    int fits_since_restarts = 0;  // warm fits since the last one with random restarts
    int recommendations = 0;      // made for the study, which decides the local ones
};

}  // namespace tarvex::detail
