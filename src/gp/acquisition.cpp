#include <cmath>
#include <limits>

#include "tarvex/gp.hpp"

namespace tarvex {
namespace {

constexpr double kMinSigma = 1e-12;  // below this the prediction is treated as certain
constexpr double kInvSqrt2Pi = 0.3989422804014327;
constexpr double kHalfLog2Pi = 0.9189385332046727;
constexpr double kLogEIFloor = 1e-300;  // keeps log() finite just above the asymptotic branch

// Phi(z) = erfc(-z / sqrt 2) / 2
double normal_cdf(double z) { return 0.5 * std::erfc(-z / 1.4142135623730951); }
// phi(z) = exp(-z^2 / 2) / sqrt(2 pi)
double normal_pdf(double z) { return kInvSqrt2Pi * std::exp(-0.5 * z * z); }

}  // namespace

double acq_ei(const GaussianProcess& gp, const VectorXd& x, double best, double xi) {
    const auto [mu, v] = gp.predict(x);
    const double sigma = std::sqrt(v);
    if (v < 0 || sigma < kMinSigma) return 0.0;
    const double z = (best - mu - xi) / sigma;
    return sigma * (z * normal_cdf(z) + normal_pdf(z));
}

double acq_logei(const GaussianProcess& gp, const VectorXd& x, double best, double xi) {
    const auto [mu, v] = gp.predict(x);
    const double sigma = std::sqrt(v);
    if (v < 0 || sigma < kMinSigma) return -std::numeric_limits<double>::infinity();
    const double z = (best - mu - xi) / sigma;
    if (z > -6) return std::log(sigma) + std::log(std::max(kLogEIFloor, z * normal_cdf(z) + normal_pdf(z)));
    // Far in the tail z Phi(z) + phi(z) underflows; its asymptotic form is phi(z) / z^2.
    return std::log(sigma) - 0.5 * z * z - kHalfLog2Pi - 2 * std::log(-z);
}

double acq_ucb(const GaussianProcess& gp, const VectorXd& x, double beta) {
    const auto [mu, v] = gp.predict(x);
    return std::sqrt(beta * std::max(v, 0.0)) - mu;
}

double acq_pi(const GaussianProcess& gp, const VectorXd& x, double best, double xi) {
    const auto [mu, v] = gp.predict(x);
    const double sigma = std::sqrt(v);
    if (v < 0 || sigma < kMinSigma) return mu < best ? 1.0 : 0.0;
    return normal_cdf((best - mu - xi) / sigma);
}

}  // namespace tarvex
