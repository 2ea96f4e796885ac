#include "gp_trust_region.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <variant>

namespace tarvex::detail {

TrustRegion trust_region(const TrainingData& data, int n_warmup) {
    const Eigen::Index d = data.X.cols();
    const int patience = std::max(kTrustFailures, static_cast<int>(d));
    double length = kTrustStart, best = std::numeric_limits<double>::infinity();
    Eigen::Index best_row = -1;
    int seen = 0, successes = 0, failures = 0;
    for (Eigen::Index i = 0; i < data.X.rows() && i < static_cast<Eigen::Index>(data.real.size()); ++i) {
        if (!data.real[static_cast<std::size_t>(i)]) continue;
        const double v = data.y[i];
        if (++seen > n_warmup) {
            if (v < best - 1e-3 * std::abs(best)) {
                ++successes;
                failures = 0;
            } else {
                ++failures;
                successes = 0;
            }
            if (successes == kTrustSuccesses) {
                length = std::min(2 * length, kTrustLongest);
                successes = 0;
            } else if (failures == patience) {
                length /= 2;
                failures = 0;
            }
            if (length < kTrustShortest) length = kTrustStart;
        }
        if (v < best) {
            best = v;
            best_row = i;
        }
    }
    TrustRegion region{Eigen::VectorXd::Zero(d), Eigen::VectorXd::Ones(d), length};
    if (best_row < 0) return region;
    const Eigen::VectorXd centre = data.X.row(best_row).transpose();
    region.lower = (centre.array() - length / 2).cwiseMax(0.0);
    region.upper = (centre.array() + length / 2).cwiseMin(1.0);
    Eigen::Index c = 0;
    for (const ParamSpec& spec : data.space.specs) {
        const auto* categorical = std::get_if<CategoricalDist>(&spec.dist);
        const Eigen::Index k = categorical ? static_cast<Eigen::Index>(categorical->choices.size()) : 1;
        if (categorical) {
            region.lower.segment(c, k).setZero();
            region.upper.segment(c, k).setOnes();
        }
        c += k;
    }
    return region;
}

}  // namespace tarvex::detail
