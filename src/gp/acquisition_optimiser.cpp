#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "tarvex/acquisition.hpp"
#include "tarvex/lbfgs.hpp"
#include "tarvex/random.hpp"

namespace tarvex {
namespace {

// The shifted Halton candidates (uniform draws beyond the 32nd dimension), then n_local
// Gaussian steps around each centre, their spreads cycling through local_scale, a tenth and a
// hundredth of it, kept inside the cube.
MatrixXd candidates(int d, const AcqOptConfig& cfg, std::mt19937_64& rng) {
    VectorXd shift(d);
    for (int j = 0; j < d; ++j) shift[j] = utils::unit_draw(rng);
    const Eigen::Index n_local = cfg.n_local > 0 ? cfg.n_local * cfg.centres.rows() : 0;
    MatrixXd C(cfg.n_cand + n_local, d);
    const int n_halton = std::min(d, static_cast<int>(utils::halton_primes.size()));
    for (int i = 0; i < cfg.n_cand; ++i) {
        for (int j = 0; j < n_halton; ++j) {
            const double h = utils::radical_inverse(i + 1, utils::halton_primes[j]) + shift[j];
            C(i, j) = h - std::floor(h);
        }
        for (int j = n_halton; j < d; ++j) C(i, j) = utils::unit_draw(rng);
    }
    constexpr double kShrink[] = {1.0, 0.1, 0.01};
    for (Eigen::Index i = 0; i < n_local; ++i) {
        const auto centre = cfg.centres.row(i / cfg.n_local);
        const double scale = cfg.local_scale * kShrink[i % 3];
        for (int j = 0; j < d; ++j)
            C(cfg.n_cand + i, j) = std::clamp(centre[j] + scale * utils::normal_draw(rng), 0.0, 1.0);
    }
    return C;
}

}  // namespace

VectorXd optimise_acquisition(const GaussianProcess& gp, int d, double best, int n_obs, const AcqOptConfig& cfg,
                              std::mt19937_64& rng) {
    if (cfg.n_cand < 1) throw std::invalid_argument("optimise_acquisition: n_cand must be at least 1.");
    if (d < 0) throw std::invalid_argument("optimise_acquisition: d must not be negative.");
    if (cfg.n_local > 0 && cfg.centres.rows() > 0 && cfg.centres.cols() != d) {
        throw std::invalid_argument("optimise_acquisition: centres must have d columns.");
    }
    const double beta = cfg.auto_beta && n_obs > 0 ? 2.0 * std::log(n_obs + 1.0) : cfg.beta;
    const AcqParams params{cfg.acq, best, cfg.xi, beta};
    const auto snap = [&](Eigen::Ref<VectorXd> x) {
        if (cfg.snap) cfg.snap(x);
    };

    MatrixXd C = candidates(d, cfg, rng);
    if (cfg.snap) {
        VectorXd row(d);
        for (Eigen::Index i = 0; i < C.rows(); ++i) {
            row = C.row(i).transpose();
            snap(row);
            C.row(i) = row.transpose();
        }
    }
    // The acquisition weighed by the probability of feasibility, as the config asks.
    const bool constrained = !cfg.constraints.empty();
    const bool in_logs = cfg.feasibility_only || cfg.acq == AcquisitionType::LogEI;
    const bool weighed = constrained && (cfg.feasibility_only || cfg.acq != AcquisitionType::UCB);
    const auto total_batch = [&](const MatrixXd& X) -> VectorXd {
        if (!weighed) return acq_batch(gp, X, params);
        const VectorXd log_p = log_feasibility_batch(cfg.constraints, X);
        if (cfg.feasibility_only) return log_p;
        const VectorXd a = acq_batch(gp, X, params);
        return in_logs ? VectorXd(a + log_p) : VectorXd(a.cwiseProduct(log_p.array().exp().matrix()));
    };
    const auto total = [&](const VectorXd& x) -> std::pair<double, VectorXd> {
        if (!weighed) return acq_with_gradient(gp, x, params);
        VectorXd dlog_p;
        const double log_p = log_feasibility(cfg.constraints, x, &dlog_p);
        if (cfg.feasibility_only) return {log_p, dlog_p};
        auto [a, da] = acq_with_gradient(gp, x, params);
        if (in_logs) return {a + log_p, VectorXd(da + dlog_p)};
        const double p = std::exp(log_p);
        return {a * p, VectorXd(p * da + a * p * dlog_p)};
    };
    const VectorXd scores = total_batch(C);
    std::vector<Eigen::Index> order(static_cast<std::size_t>(C.rows()));
    std::iota(order.begin(), order.end(), 0);
    const auto k = std::clamp<Eigen::Index>(cfg.n_refine, 0, C.rows());
    // NaN scores sort after every number, so the comparison stays a strict weak order.
    std::partial_sort(order.begin(), order.begin() + std::max<Eigen::Index>(k, 1), order.end(),
                      [&](Eigen::Index a, Eigen::Index b) {
                          if (std::isnan(scores[a])) return false;
                          return std::isnan(scores[b]) || scores[a] > scores[b];
                      });

    VectorXd result = C.row(order[0]).transpose();
    double best_score = scores[order[0]];
    const VectorXd free = cfg.free.size() == d ? cfg.free : VectorXd::Ones(d);
    if (free.isZero()) return result;  // nothing a refinement could move
    // Minimises -a at the snapped point; the coordinates snap fixes have no gradient.
    const LBFGSObjective negated = [&](const VectorXd& x) {
        VectorXd at = x;
        snap(at);
        auto [value, gradient] = total(at);
        return std::pair{-value, VectorXd(-gradient.cwiseProduct(free))};
    };
    LBFGSConfig lbfgs;
    lbfgs.rel_ftol = cfg.rel_ftol;
    const VectorXd lower = VectorXd::Zero(d), upper = VectorXd::Ones(d);
    for (Eigen::Index r = 0; r < k; ++r) {
        const LBFGSResult res = utils::lbfgs_minimize(negated, C.row(order[r]).transpose(), lower, upper, lbfgs);
        if (-res.f > best_score) {
            result = res.x;
            snap(result);
            best_score = -res.f;
        }
    }
    return result;
}

}  // namespace tarvex
