// A trust region for GP proposals (TuRBO, Eriksson et al. 2019): a box around the best
// observation that doubles after successes and halves after failures.
#pragma once

#include <Eigen/Core>

#include "gp_training.hpp"

namespace tarvex::detail {

struct TrustRegion {
    Eigen::VectorXd lower, upper;  // in the unit cube; categorical coordinates span it whole
    double length;                 // the side of the box, as a share of the cube's
};

// The region for data's next proposal, replayed from the observations in trial order, so that
// every process of a study finds the same one: the first n_warmup only set the best, then each
// observation counts as a success when it improves the best by a thousandth, a failure
// otherwise; kSuccesses successes in a row double the side (up to kLongest), max(kFailures, d)
// failures in a row halve it, and a side below kShortest starts again at kStart. Categorical
// coordinates are not restricted: their one-hot blocks would pin the choice.
TrustRegion trust_region(const TrainingData& data, int n_warmup);

inline constexpr double kTrustStart = 0.8;
inline constexpr double kTrustLongest = 1.6;
inline constexpr double kTrustShortest = 0.0078125;  // 0.5^7
inline constexpr int kTrustSuccesses = 3;
inline constexpr int kTrustFailures = 4;

}  // namespace tarvex::detail
