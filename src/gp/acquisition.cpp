#include <cmath>
#include <limits>

#include "../common/standard_normal.hpp"
#include "tarvex/acquisition.hpp"

namespace tarvex {
namespace {

constexpr double kMinSigma = 1e-12;  // below this the prediction is treated as certain
constexpr double kHalfLog2Pi = 0.9189385332046727;
constexpr double kLogEIFloor = 1e-300;  // keeps log() finite just above the asymptotic branch

using detail::normal_cdf;
using detail::normal_pdf;

// An acquisition value from the prediction (mu, v), with its partial derivatives in mu and sigma.
struct Score {
    double value;
    double dmu = 0;
    double dsigma = 0;
};

Score score(const AcqParams& p, double mu, double v) {
    const double sigma = std::sqrt(v);
    const bool certain = v < 0 || sigma < kMinSigma;
    const double z = (p.best - mu - p.xi) / sigma;
    switch (p.type) {
        case AcquisitionType::EI: {
            if (certain) return {0.0};
            const double cdf = normal_cdf(z), pdf = normal_pdf(z);
            return {sigma * (z * cdf + pdf), -cdf, pdf};
        }
        case AcquisitionType::LogEI: {
            if (certain) return {-std::numeric_limits<double>::infinity()};
            double dz;  // d value / dz
            double value;
            if (z > -6) {
                const double h = z * normal_cdf(z) + normal_pdf(z);
                value = std::log(sigma) + std::log(std::max(kLogEIFloor, h));
                dz = h > kLogEIFloor ? normal_cdf(z) / h : 0.0;
            } else {
                // Far in the tail z Phi(z) + phi(z) underflows; its asymptotic form is phi(z) / z^2.
                value = std::log(sigma) - 0.5 * z * z - kHalfLog2Pi - 2 * std::log(-z);
                dz = -z - 2 / z;
            }
            return {value, -dz / sigma, 1 / sigma - dz * z / sigma};
        }
        case AcquisitionType::PI: {
            if (certain) return {mu < p.best ? 1.0 : 0.0};
            const double pdf = normal_pdf(z);
            return {normal_cdf(z), -pdf / sigma, -pdf * z / sigma};
        }
        default: {
            const double root_beta = std::sqrt(p.beta);
            return {std::sqrt(p.beta * std::max(v, 0.0)) - mu, -1.0, v > 0 ? root_beta : 0.0};
        }
    }
}

double at(const GaussianProcess& gp, const VectorXd& x, const AcqParams& p) {
    const auto [mu, v] = gp.predict(x);
    return score(p, mu, v).value;
}

}  // namespace

double acq_ei(const GaussianProcess& gp, const VectorXd& x, double best, double xi) {
    return at(gp, x, {AcquisitionType::EI, best, xi, 0});
}

double acq_logei(const GaussianProcess& gp, const VectorXd& x, double best, double xi) {
    return at(gp, x, {AcquisitionType::LogEI, best, xi, 0});
}

double acq_ucb(const GaussianProcess& gp, const VectorXd& x, double beta) {
    return at(gp, x, {AcquisitionType::UCB, 0, 0, beta});
}

double acq_pi(const GaussianProcess& gp, const VectorXd& x, double best, double xi) {
    return at(gp, x, {AcquisitionType::PI, best, xi, 0});
}

std::pair<double, VectorXd> acq_with_gradient(const GaussianProcess& gp, const VectorXd& x, const AcqParams& p) {
    const Prediction pred = gp.predict_with_gradient(x);
    const Score s = score(p, pred.mean, pred.var);
    VectorXd gradient = s.dmu * pred.dmean;
    if (s.dsigma != 0 && pred.var > 0) gradient += (s.dsigma / (2 * std::sqrt(pred.var))) * pred.dvar;
    return {s.value, gradient};
}

VectorXd acq_batch(const GaussianProcess& gp, const MatrixXd& Xq, const AcqParams& p) {
    const auto [means, vars] = gp.predict_batch(Xq);
    VectorXd out(Xq.rows());
    for (Eigen::Index i = 0; i < Xq.rows(); ++i) out[i] = score(p, means[i], vars[i]).value;
    return out;
}

namespace {

// log Φ(z) and its derivative, with the tail's asymptotic form where Φ underflows.
std::pair<double, double> log_cdf(double z) {
    if (z > -6) {
        const double cdf = normal_cdf(z);
        return {std::log(cdf), normal_pdf(z) / cdf};
    }
    return {-0.5 * z * z - std::log(-z) - kHalfLog2Pi, -z - 1 / z};
}

}  // namespace

double log_feasibility(const std::vector<ConstraintModel>& constraints, const VectorXd& x, VectorXd* gradient) {
    double total = 0;
    if (gradient) gradient->setZero(x.size());
    for (const ConstraintModel& c : constraints) {
        const Prediction pred = c.gp->predict_with_gradient(x);
        const double sigma = std::sqrt(std::max(pred.var, 0.0));
        if (sigma < kMinSigma) {
            total += pred.mean <= c.threshold ? 0.0 : -std::numeric_limits<double>::infinity();
            continue;
        }
        const double z = (c.threshold - pred.mean) / sigma;
        const auto [value, slope] = log_cdf(z);
        total += value;
        if (gradient) {
            const VectorXd dsigma = pred.dvar / (2 * sigma);
            *gradient += slope * (-pred.dmean / sigma - z * dsigma / sigma);
        }
    }
    return total;
}

VectorXd log_feasibility_batch(const std::vector<ConstraintModel>& constraints, const MatrixXd& Xq) {
    VectorXd total = VectorXd::Zero(Xq.rows());
    for (const ConstraintModel& c : constraints) {
        const auto [means, vars] = c.gp->predict_batch(Xq);
        for (Eigen::Index i = 0; i < Xq.rows(); ++i) {
            const double sigma = std::sqrt(std::max(vars[i], 0.0));
            total[i] += sigma < kMinSigma ? (means[i] <= c.threshold ? 0.0 : -std::numeric_limits<double>::infinity())
                                          : log_cdf((c.threshold - means[i]) / sigma).first;
        }
    }
    return total;
}

}  // namespace tarvex
