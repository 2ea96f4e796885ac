#include <algorithm>
#include <cmath>
#include <limits>

#include "tarvex/gp.hpp"
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

double prior_term(double value, double mu, double sigma) {
    const double z = (value - mu) / sigma;
    return 0.5 * z * z;
}

}  // namespace

void GaussianProcess::optimise_kernel(const MatrixXd& Xin, const VectorXd& yin) {
    const int n = static_cast<int>(Xin.rows());
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

    // Sets the model to theta and factorises.
    const auto apply = [&](const VectorXd& theta) {
        kernel->set_params(theta.head(n_k));
        if (fit_noise) noise_var = noise_from_log(theta[n_k]);
        recompute(Xin, yin);
    };
    // Negative log marginal likelihood plus priors at theta.
    const auto energy = [&](const VectorXd& theta) {
        apply(theta);
        double e = 0.5 * yin.dot(alpha) + L.diagonal().array().log().sum() + 0.5 * n * kLog2Pi;
        if (use_priors) {
            e += prior_term(theta[0], kVarianceMu, kVarianceSigma);
            for (int i = 1; i < n_k; ++i) e += prior_term(theta[i], kLengthMu, kLengthSigma);
            if (fit_noise) e += prior_term(theta[n_k], kNoiseMu, kNoiseSigma);
        }
        return e;
    };
    // Central differences; the model is left at theta afterwards.
    const LBFGSObjective objective = [&](const VectorXd& theta) {
        VectorXd g(dim);
        VectorXd probe = theta;
        for (int i = 0; i < dim; ++i) {
            probe[i] = theta[i] + kFdStep;
            const double up = energy(probe);
            probe[i] = theta[i] - kFdStep;
            const double down = energy(probe);
            probe[i] = theta[i];
            g[i] = (up - down) / (2 * kFdStep);
        }
        return std::pair{energy(theta), g};
    };

    double best_value = std::numeric_limits<double>::infinity();
    VectorXd best_theta = theta_init;
    std::mt19937_64 rng(42);
    for (int r = 0; r <= n_restarts; ++r) {
        VectorXd start = best_theta;
        if (r > 0) {
            for (int i = 0; i < n_k; ++i) start[i] = -3.0 + 6.0 * utils::unit_draw(rng);
            if (fit_noise) start[n_k] = -14.0 + 10.0 * utils::unit_draw(rng);
        }
        LBFGSResult result = utils::lbfgs_minimize(objective, std::move(start), lower, upper, LBFGSConfig{});
        if (best_value > result.f) {
            best_value = result.f;
            best_theta = std::move(result.x);
        }
    }
    apply(best_theta);
}

}  // namespace tarvex
