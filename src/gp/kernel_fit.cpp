#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "tarvex/finite_difference.hpp"
#include "tarvex/gaussian_process.hpp"
#include "tarvex/lbfgs.hpp"
#include "tarvex/random.hpp"

namespace tarvex {
namespace {

constexpr double kLog2Pi = 1.8378770664093453;
constexpr double kFdStep = 1e-4;
constexpr double kLogNoiseFloor = -18.420680743952367;  // log 1e-8

// Log-normal priors: mean and spread of each log hyperparameter.
constexpr double kVarianceMu = 0.0, kVarianceSigma = 2.0;
constexpr double kLengthMu = -1.3862943611198906, kLengthSigma = 1.5;  // log 0.25
constexpr double kNoiseMu = -9.210340371976182, kNoiseSigma = 1.5;     // log 1e-4

// The fitted noise stays inside [1e-8, 1].
double noise_from_log(double log_noise) { return std::clamp(std::exp(log_noise), 1e-8, 1.0); }

// (value - mu)^2 / 2 sigma^2, and its slope.
std::pair<double, double> prior_term(double value, double mu, double sigma) {
    const double z = (value - mu) / sigma;
    return {0.5 * z * z, z / sigma};
}

// The rows a fit uses: all of them, or a fixed random subset of max_rows, in their order.
std::vector<Eigen::Index> fit_rows(Eigen::Index n, int max_rows) {
    std::vector<Eigen::Index> rows(static_cast<std::size_t>(n));
    std::iota(rows.begin(), rows.end(), 0);
    if (max_rows <= 0 || n <= max_rows) return rows;
    std::mt19937_64 pick(static_cast<std::uint64_t>(n));
    for (int i = 0; i < max_rows; ++i) {  // a partial Fisher-Yates shuffle
        const auto j = i + static_cast<Eigen::Index>(utils::bounded_draw(pick, static_cast<std::uint64_t>(n - 1 - i)));
        std::swap(rows[i], rows[j]);
    }
    rows.resize(static_cast<std::size_t>(max_rows));
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace

void GaussianProcess::set_hyperparameters(const VectorXd& theta) {
    const int n_k = kernel->n_params();
    kernel->set_params(theta.head(n_k));
    if (fit_noise) noise_var = noise_from_log(theta[n_k]);
}

std::pair<double, VectorXd> GaussianProcess::fit_loss(const VectorXd& theta, const MatrixXd& Xin, const VectorXd& yin) {
    const auto n = Xin.rows();
    const int n_k = kernel->n_params();
    const auto energy = [&](const VectorXd& t, VectorXd* gradient) {
        set_hyperparameters(t);
        recompute(Xin, yin);
        double e = 0.5 * yin.dot(alpha) + L.diagonal().array().log().sum() + 0.5 * static_cast<double>(n) * kLog2Pi;
        if (use_priors) {
            const auto add = [&](int i, double mu, double sigma) {
                const auto [value, slope] = prior_term(t[i], mu, sigma);
                e += value;
                if (gradient) (*gradient)[i] += slope;
            };
            add(0, kVarianceMu, kVarianceSigma);
            for (int i = 1; i < n_k; ++i) add(i, kLengthMu, kLengthSigma);
            if (fit_noise) add(n_k, kNoiseMu, kNoiseSigma);
        }
        return e;
    };
    const auto* stationary = dynamic_cast<const StationaryKernel*>(kernel.get());
    if (!stationary) {  // a kernel without distances: central differences
        const auto value = [&](const VectorXd& t) { return energy(t, nullptr); };
        VectorXd gradient = utils::central_difference(value, theta, kFdStep);
        return {value(theta), gradient};
    }

    VectorXd gradient = VectorXd::Zero(theta.size());
    const double e = energy(theta, &gradient);
    // W = alpha alpha^T - K^-1, over the packed pairs i >= j; off-diagonal pairs count twice.
    // Column j of K^-1 from row j down needs only the trailing block of L: L^-1 e_j is zero above
    // j, and so is what L^-T must undo. Two triangular solves per column, about two factorisations.
    VectorXd weighted(packed_dist.size());
    double trace_w = 0;
    inverse.resize(n);
    for (Eigen::Index j = 0, p = 0; j < n; ++j) {
        const Eigen::Index len = n - j;
        auto col = inverse.head(len);
        col.setZero();
        col[0] = 1.0;
        const auto block = L.bottomRightCorner(len, len).triangularView<Eigen::Lower>();
        block.solveInPlace(col);
        block.transpose().solveInPlace(col);
        for (Eigen::Index i = 0; i < len; ++i, ++p) {
            const double w = alpha[j + i] * alpha[j] - col[i];
            weighted[p] = i == 0 ? w : 2 * w;
        }
        trace_w += alpha[j] * alpha[j] - col[0];
    }
    // dE/dtheta = -tr(W dK/dtheta) / 2, with dK/d log variance = K_f and
    // dK/d log l_c^2 = -slope(D) (x_ic - x_jc)^2 / l_c^2.
    gradient[0] -= 0.5 * weighted.dot(packed_cov);
    VectorXd slopes = packed_dist;
    stationary->covariance_slopes(slopes.array());
    const VectorXd ws = weighted.cwiseProduct(slopes);
    const Eigen::Index m = stationary->sq_lengthscales.size();
    if (m == 1) {
        gradient[1] += 0.5 * ws.dot(packed_dist);
    } else {
        const Eigen::Index r = std::min<Eigen::Index>(m, Xin.cols());
        const VectorXd w = stationary->distance_weights(static_cast<int>(Xin.cols()));
        gradient.segment(1, r) += 0.5 * (sq_diffs.leftCols(r).transpose() * ws).cwiseProduct(w.head(r));
    }
    if (fit_noise) gradient[n_k] -= 0.5 * noise_var * trace_w;
    return {e, gradient};
}

void GaussianProcess::optimise_kernel(const MatrixXd& Xin, const VectorXd& yin) {
    const int n_k = kernel->n_params();
    const int dim = n_k + (fit_noise ? 1 : 0);
    VectorXd lower = VectorXd::Constant(dim, -8.0);
    VectorXd upper = VectorXd::Constant(dim, 8.0);
    VectorXd theta_init(dim);
    theta_init.head(n_k) = kernel->get_params();
    if (fit_noise) {
        lower[n_k] = kLogNoiseFloor;
        upper[n_k] = 0.0;
        theta_init[n_k] = std::log(noise_var);
    }
    theta_init = theta_init.cwiseMax(lower).cwiseMin(upper);

    const std::vector<Eigen::Index> rows = fit_rows(Xin.rows(), max_fit_rows);
    const bool subset = static_cast<Eigen::Index>(rows.size()) < Xin.rows();
    const MatrixXd Xs = subset ? MatrixXd(Xin(rows, Eigen::all)) : MatrixXd();
    const VectorXd ys = subset ? VectorXd(yin(rows)) : VectorXd();
    const MatrixXd& Xf = subset ? Xs : Xin;
    const VectorXd& yf = subset ? ys : yin;
    const LBFGSObjective objective = [&](const VectorXd& theta) { return fit_loss(theta, Xf, yf); };

    double best_value = std::numeric_limits<double>::infinity();
    VectorXd best_theta = theta_init;
    std::mt19937_64 rng(42);
    for (int r = 0; r <= n_restarts; ++r) {
        VectorXd start = best_theta;
        if (r > 0) {
            for (int i = 0; i < n_k; ++i) start[i] = -3.0 + 6.0 * utils::unit_draw(rng);
            if (fit_noise) start[n_k] = -14.0 + 10.0 * utils::unit_draw(rng);
        }
        LBFGSConfig lbfgs;
        lbfgs.rel_ftol = 1e-8;
        LBFGSResult result = utils::lbfgs_minimize(objective, std::move(start), lower, upper, lbfgs);
        if (best_value > result.f) {
            best_value = result.f;
            best_theta = std::move(result.x);
        }
    }
    set_hyperparameters(best_theta);
    factorise(Xin, yin, !subset);  // a subset fit leaves the full data's pairs uncached
}

}  // namespace tarvex
