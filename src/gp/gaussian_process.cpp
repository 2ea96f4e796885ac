#include <cmath>
#include <limits>
#include <stdexcept>
#include <tuple>

#include "cholesky.hpp"
#include "tarvex/gp.hpp"

namespace tarvex {
namespace {
constexpr double kLog2Pi = 1.8378770664093453;
constexpr double kJitter = 1e-6;
}  // namespace

MatrixXd utils::stable_cholesky(const MatrixXd& A, double jitter) {
    MatrixXd L = MatrixXd::Zero(A.rows(), A.cols());
    detail::jittered_cholesky_in_place(
        L, [&](MatrixXd& K) { K.triangularView<Eigen::Lower>() = A.triangularView<Eigen::Lower>(); }, jitter);
    return L;
}

GaussianProcess::GaussianProcess(std::unique_ptr<IKernel> kernel_, double noise_var_, int n_restarts_)
    : kernel(std::move(kernel_)),
      noise_var(noise_var_),
      n_restarts(n_restarts_) {}

void GaussianProcess::fit(const MatrixXd& X_, const VectorXd& y_, bool optimise) {
    if (X_.rows() != y_.size()) throw std::invalid_argument("GP::fit: X.rows() != y.size()");
    // A NaN or infinity would not fail anywhere below; it would only make every prediction NaN.
    if (!X_.allFinite() || !y_.allFinite()) throw std::invalid_argument("GP::fit: X and y must be finite.");
    X = X_;
    y = y_;
    kernel->set_input_dim(static_cast<int>(X.cols()));
    if (optimise) {
        optimise_kernel(X, y);
    } else {
        recompute(X, y);
    }
    fitted = true;
}

void GaussianProcess::cache_sq_diffs(const MatrixXd& Xin) {
    if (sq_diffs_for.rows() == Xin.rows() && sq_diffs_for.cols() == Xin.cols() && sq_diffs_for == Xin) return;
    const Eigen::Index n = Xin.rows();
    const Eigen::Index d = Xin.cols();
    sq_diffs.resize(n * (n + 1) / 2, d);
    for (Eigen::Index k = 0; k < d; ++k) {
        Eigen::Index p = 0;
        for (Eigen::Index j = 0; j < n; ++j) {
            const auto len = n - j;
            sq_diffs.col(k).segment(p, len) = (Xin.col(k).tail(len).array() - Xin(j, k)).square().matrix();
            p += len;
        }
    }
    sq_diffs_for = Xin;
}

// Writes the lower triangle of K(X, X) + noise_var I; a stationary kernel's covariances are
// already in packed_cov.
void GaussianProcess::fill_covariance(MatrixXd& K, const MatrixXd& Xin, bool packed) const {
    const Eigen::Index n = Xin.rows();
    if (packed) {
        Eigen::Index p = 0;
        for (Eigen::Index j = 0; j < n; ++j) {
            K.col(j).tail(n - j) = packed_cov.segment(p, n - j);
            p += n - j;
        }
    } else {
        const MatrixXd full = kernel->matrix(Xin);
        K.triangularView<Eigen::Lower>() = full.triangularView<Eigen::Lower>();
    }
    K.diagonal().array() += noise_var;
}

void GaussianProcess::recompute(const MatrixXd& Xin, const VectorXd& yin) {
    const Eigen::Index n = Xin.rows();
    // The kernel is a public member and may be replaced, so its kind is asked for each time.
    const auto* stationary = dynamic_cast<const StationaryKernel*>(kernel.get());
    if (stationary) {
        cache_sq_diffs(Xin);
        packed_cov.noalias() = sq_diffs * stationary->distance_weights(static_cast<int>(Xin.cols()));
        stationary->covariances(packed_cov.array());
    }
    if (work.rows() != n || work.cols() != n) work.setZero(n, n);
    try {
        factorisations += detail::jittered_cholesky_in_place(
            work, [&](MatrixXd& K) { fill_covariance(K, Xin, stationary != nullptr); }, kJitter);
    } catch (const std::runtime_error&) {
        factorisations += 6;
        throw;
    }
    work_alpha = yin;
    work.triangularView<Eigen::Lower>().solveInPlace(work_alpha);
    work.triangularView<Eigen::Lower>().transpose().solveInPlace(work_alpha);
    L.swap(work);
    alpha.swap(work_alpha);
}

std::pair<double, double> GaussianProcess::predict(const VectorXd& x) const {
    if (!fitted) throw std::runtime_error("GP not fitted.");
    if (x.size() != X.cols()) throw std::invalid_argument("GP::predict: x.size() != X.cols()");
    VectorXd k;
    double prior;
    if (const auto* stationary = dynamic_cast<const StationaryKernel*>(kernel.get())) {
        const VectorXd w = stationary->distance_weights(static_cast<int>(X.cols()));
        k.setZero(X.rows());
        for (Eigen::Index c = 0; c < X.cols(); ++c) {
            if (w[c] != 0) k.array() += w[c] * (X.col(c).array() - x[c]).square();
        }
        stationary->covariances(k.array());
        prior = stationary->covariance(0.0);
    } else {
        k = kernel->vector(X, x);
        prior = kernel->eval(x, x);
    }
    const double mean = k.dot(alpha);
    L.triangularView<Eigen::Lower>().solveInPlace(k);
    const double var = prior - k.squaredNorm();
    return {mean, var > 0 ? var : 0.0};
}

std::pair<VectorXd, VectorXd> GaussianProcess::predict_batch(const MatrixXd& Xq) const {
    const int m = static_cast<int>(Xq.rows());
    VectorXd means(m), vars(m);
    for (int i = 0; i < m; ++i) std::tie(means[i], vars[i]) = predict(Xq.row(i).transpose());
    return {means, vars};
}

double GaussianProcess::log_marginal_likelihood() const {
    if (!fitted) return -std::numeric_limits<double>::infinity();
    const int n = static_cast<int>(y.size());
    return -0.5 * y.dot(alpha) - L.diagonal().array().log().sum() - 0.5 * n * kLog2Pi;
}

}  // namespace tarvex
