#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "tarvex/gp.hpp"
#include "tarvex/random.hpp"

namespace tarvex {
namespace {

constexpr double kFdStep = 1e-5;

}  // namespace

VectorXd optimise_acquisition(const GaussianProcess& gp, int d, double best, int n_obs, const AcqOptConfig& cfg,
                              std::mt19937_64& rng) {
    if (cfg.n_cand < 1) throw std::invalid_argument("optimise_acquisition: n_cand must be at least 1.");
    if (d < 0) throw std::invalid_argument("optimise_acquisition: d must not be negative.");
    const double beta = cfg.auto_beta && n_obs > 0 ? 2.0 * std::log(n_obs + 1.0) : cfg.beta;
    const auto acquisition = [&](const VectorXd& x) {
        switch (cfg.acq) {
            case AcquisitionType::EI: return acq_ei(gp, x, best, cfg.xi);
            case AcquisitionType::LogEI: return acq_logei(gp, x, best, cfg.xi);
            case AcquisitionType::PI: return acq_pi(gp, x, best, cfg.xi);
            default: return acq_ucb(gp, x, beta);
        }
    };

    VectorXd shift(d);
    for (int j = 0; j < d; ++j) shift[j] = utils::unit_draw(rng);
    const int n_cand = cfg.n_cand;
    const int n_halton = std::min(d, static_cast<int>(utils::halton_primes.size()));
    MatrixXd C(n_cand, d);
    for (int i = 0; i < n_cand; ++i) {
        for (int j = 0; j < n_halton; ++j) {
            const double h = utils::radical_inverse(i + 1, utils::halton_primes[j]) + shift[j];
            C(i, j) = h - std::floor(h);
        }
        for (int j = n_halton; j < d; ++j) C(i, j) = utils::unit_draw(rng);
    }

    std::vector<double> scores(static_cast<std::size_t>(n_cand));
    VectorXd row(d);
    for (int i = 0; i < n_cand; ++i) {
        row = C.row(i).transpose();
        scores[i] = acquisition(row);
    }
    std::vector<int> order(static_cast<std::size_t>(n_cand));
    std::iota(order.begin(), order.end(), 0);
    const int k = std::clamp(cfg.n_refine, 0, n_cand);
    // NaN scores sort after every number, so the comparison stays a strict weak order.
    std::partial_sort(order.begin(), order.begin() + std::max(k, 1), order.end(), [&](int a, int b) {
        if (std::isnan(scores[a])) return false;
        return std::isnan(scores[b]) || scores[a] > scores[b];
    });

    VectorXd result = C.row(order[0]).transpose();
    double best_score = scores[order[0]];
    const VectorXd lower = VectorXd::Zero(d);
    const VectorXd upper = VectorXd::Ones(d);
    // Minimises -a(x), with the gradient by central differences.
    const LBFGSObjective negated = [&](const VectorXd& x) {
        VectorXd g(d);
        VectorXd probe = x;
        for (int i = 0; i < d; ++i) {
            probe[i] = x[i] + kFdStep;
            const double up = acquisition(probe);
            probe[i] = x[i] - kFdStep;
            const double down = acquisition(probe);
            probe[i] = x[i];
            g[i] = -(up - down) / (2 * kFdStep);
        }
        return std::pair{-acquisition(x), g};
    };
    for (int r = 0; r < k; ++r) {
        const LBFGSResult res = utils::lbfgs_minimize(negated, C.row(order[r]).transpose(), lower, upper, LBFGSConfig{});
        if (-res.f > best_score) {
            result = res.x;
            best_score = -res.f;
        }
    }
    return result;
}

}  // namespace tarvex
