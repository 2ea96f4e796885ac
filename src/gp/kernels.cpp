#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "tarvex/finite_difference.hpp"
#include "tarvex/kernels.hpp"

namespace tarvex {
namespace {
constexpr double kSqrt5 = 2.23606797749979;
}

MatrixXd IKernel::matrix(const MatrixXd& X) const {
    const int n = static_cast<int>(X.rows());
    std::vector<VectorXd> rows(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) rows[i] = X.row(i).transpose();
    MatrixXd K(n, n);
    for (int i = 0; i < n; ++i) {
        for (int j = i; j < n; ++j) K(j, i) = K(i, j) = eval(rows[j], rows[i]);
    }
    return K;
}

VectorXd IKernel::vector(const MatrixXd& X, const VectorXd& x) const {
    VectorXd k(X.rows());
    VectorXd row;
    for (Eigen::Index i = 0; i < X.rows(); ++i) {
        row = X.row(i).transpose();
        k[i] = eval(row, x);
    }
    return k;
}

StationaryKernel::StationaryKernel(double sigma, double lengthscale)
    : variance(sigma * sigma), sq_lengthscales(VectorXd::Constant(1, lengthscale * lengthscale)) {}

double StationaryKernel::eval(const VectorXd& x1, const VectorXd& x2) const {
    const Eigen::Index m = sq_lengthscales.size();
    // Points shorter than the lengthscale vector are compared over what they have.
    const Eigen::Index k = std::min(x1.size(), x2.size());
    double D = 0;
    if (m == 1) {
        D = (x1.head(k) - x2.head(k)).squaredNorm() / sq_lengthscales[0];
    } else if (m > 1) {
        const Eigen::Index r = std::min(m, k);
        D = ((x1.head(r) - x2.head(r)).array().square() / sq_lengthscales.head(r).array()).sum();
    }
    return covariance(D);
}

VectorXd StationaryKernel::get_params() const {
    VectorXd p(sq_lengthscales.size() + 1);
    p[0] = std::log(variance);
    p.tail(sq_lengthscales.size()) = sq_lengthscales.array().log().matrix();
    return p;
}

void StationaryKernel::set_params(const VectorXd& p) {
    if (p.size() < 2) throw std::invalid_argument(name() + "Kernel: expected >= 2 params.");
    variance = std::exp(p[0]);
    sq_lengthscales = p.tail(p.size() - 1).array().exp().matrix();
}

int StationaryKernel::n_params() const { return static_cast<int>(sq_lengthscales.size()) + 1; }

void StationaryKernel::set_input_dim(int d) {
    if (d <= 0 || d == sq_lengthscales.size()) return;
    const double v = sq_lengthscales.size() > 0 ? sq_lengthscales[0] : 1.0;
    sq_lengthscales.setConstant(d, v);
}

void StationaryKernel::covariance_slopes(Eigen::Ref<Eigen::ArrayXd> D) const {
    for (Eigen::Index i = 0; i < D.size(); ++i) {
        // One-sided at D = 0, where the distance cannot go lower.
        const double h = 1e-6 * std::max(D[i], 1e-3);
        const double at = std::max(D[i], h);
        const auto k = [&](const VectorXd& v) { return covariance(v[0]); };
        D[i] = utils::central_difference(k, VectorXd::Constant(1, at), h)[0];
    }
}

VectorXd StationaryKernel::distance_weights(int d) const {
    VectorXd w = VectorXd::Zero(d);
    const Eigen::Index m = sq_lengthscales.size();
    if (m == 1) {
        w.setConstant(1.0 / sq_lengthscales[0]);
    } else if (m > 1) {
        const Eigen::Index r = std::min<Eigen::Index>(m, d);
        w.head(r) = sq_lengthscales.head(r).cwiseInverse();
    }
    return w;
}

double RBFKernel::covariance(double D) const { return variance * std::exp(-0.5 * D); }

void RBFKernel::covariances(Eigen::Ref<Eigen::ArrayXd> D) const { D = variance * (-0.5 * D).exp(); }

void RBFKernel::covariance_slopes(Eigen::Ref<Eigen::ArrayXd> D) const { D = -0.5 * variance * (-0.5 * D).exp(); }

std::string RBFKernel::name() const { return "RBF"; }

std::unique_ptr<IKernel> RBFKernel::clone() const { return std::make_unique<RBFKernel>(*this); }

double Matern52Kernel::covariance(double D) const {
    const double t = kSqrt5 * std::sqrt(D);
    return variance * (1 + t + t * t / 3) * std::exp(-t);
}

void Matern52Kernel::covariances(Eigen::Ref<Eigen::ArrayXd> D) const {
    D = kSqrt5 * D.sqrt();  // now t, element by element
    D = variance * (1 + D + D.square() / 3) * (-D).exp();
}

void Matern52Kernel::covariance_slopes(Eigen::Ref<Eigen::ArrayXd> D) const {
    D = kSqrt5 * D.sqrt();  // now t
    D = (-5.0 / 6.0) * variance * (1 + D) * (-D).exp();
}

std::string Matern52Kernel::name() const { return "Matern52"; }

std::unique_ptr<IKernel> Matern52Kernel::clone() const { return std::make_unique<Matern52Kernel>(*this); }

std::unique_ptr<IKernel> make_kernel(KernelType type, double sigma, double lengthscale) {
    switch (type) {
        case KernelType::RBF:
            return std::make_unique<RBFKernel>(sigma, lengthscale);
        case KernelType::Matern52:
            return std::make_unique<Matern52Kernel>(sigma, lengthscale);
    }
    throw std::invalid_argument("Unknown kernel type.");
}

}  // namespace tarvex
