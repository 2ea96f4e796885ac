#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <tuple>

#include "cholesky.hpp"
#include "quadratic_mean.hpp"
#include "tarvex/finite_difference.hpp"
#include "tarvex/gaussian_process.hpp"

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
    : kernel(std::move(kernel_)), noise_var(noise_var_), n_restarts(n_restarts_) {}

void GaussianProcess::fit(const MatrixXd& X_, const VectorXd& y_, bool optimise) {
    if (X_.rows() != y_.size()) throw std::invalid_argument("GP::fit: X.rows() != y.size()");
    // A NaN or infinity would not fail anywhere below; it would only make every prediction NaN.
    if (!X_.allFinite() || !y_.allFinite()) throw std::invalid_argument("GP::fit: X and y must be finite.");
    X = X_;
    mean_coef = quadratic_mean ? detail::fit_bowl(X_, y_) : VectorXd();
    y = mean_coef.size() > 0 ? VectorXd(y_ - detail::bowl_values(mean_coef, X_)) : y_;
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

// Writes the lower triangle of K(X, X) + noise_var I: from the packed covariances, from the
// stationary kernel's distances, or entry by entry through the kernel.
void GaussianProcess::fill_covariance(MatrixXd& K, const MatrixXd& Xin, CovarianceSource source) const {
    const Eigen::Index n = Xin.rows();
    if (source == CovarianceSource::Packed) {
        for (Eigen::Index j = 0, p = 0; j < n; p += n - j, ++j) K.col(j).tail(n - j) = packed_cov.segment(p, n - j);
    } else if (source == CovarianceSource::Distances) {
        const auto& stationary = dynamic_cast<const StationaryKernel&>(*kernel);
        const VectorXd w = stationary.distance_weights(static_cast<int>(Xin.cols()));
        for (Eigen::Index j = 0; j < n; ++j) {
            Eigen::Map<Eigen::ArrayXd> col(K.col(j).data() + j, n - j);
            col.setZero();
            for (Eigen::Index c = 0; c < Xin.cols(); ++c) {
                if (w[c] != 0) col += w[c] * (Xin.col(c).tail(n - j).array() - Xin(j, c)).square();
            }
            stationary.covariances(col);
        }
    } else {
        const MatrixXd full = kernel->matrix(Xin);
        K.triangularView<Eigen::Lower>() = full.triangularView<Eigen::Lower>();
    }
    K.diagonal().array() += noise_var;
}

void GaussianProcess::recompute(const MatrixXd& Xin, const VectorXd& yin) { factorise(Xin, yin, true); }

void GaussianProcess::factorise(const MatrixXd& Xin, const VectorXd& yin, bool cache) {
    const Eigen::Index n = Xin.rows();
    // The kernel is a public member and may be replaced, so its kind is asked for each time.
    const auto* stationary = dynamic_cast<const StationaryKernel*>(kernel.get());
    auto source = CovarianceSource::Kernel;
    if (stationary && cache) {
        cache_sq_diffs(Xin);
        packed_dist.noalias() = sq_diffs * stationary->distance_weights(static_cast<int>(Xin.cols()));
        packed_cov = packed_dist;
        stationary->covariances(packed_cov.array());
        source = CovarianceSource::Packed;
    } else if (stationary) {
        source = CovarianceSource::Distances;
    }
    if (work.rows() != n || work.cols() != n) work.setZero(n, n);
    try {
        factorisations +=
            detail::jittered_cholesky_in_place(work, [&](MatrixXd& K) { fill_covariance(K, Xin, source); }, kJitter);
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
    const double mean = k.dot(alpha) + (mean_coef.size() > 0 ? detail::bowl_at(mean_coef, x) : 0.0);
    L.triangularView<Eigen::Lower>().solveInPlace(k);
    const double var = prior - k.squaredNorm();
    return {mean, var > 0 ? var : 0.0};
}

std::pair<VectorXd, VectorXd> GaussianProcess::predict_batch(const MatrixXd& Xq) const {
    if (Xq.rows() == 0) return {VectorXd(0), VectorXd(0)};  // nothing to predict, fitted or not
    if (!fitted) throw std::runtime_error("GP not fitted.");
    if (Xq.cols() != X.cols()) throw std::invalid_argument("GP::predict_batch: Xq.cols() != X.cols()");
    const auto* stationary = dynamic_cast<const StationaryKernel*>(kernel.get());
    const Eigen::Index m = Xq.rows();
    VectorXd means(m), vars(m);
    if (!stationary) {
        for (Eigen::Index i = 0; i < m; ++i) std::tie(means[i], vars[i]) = predict(Xq.row(i).transpose());
        return {means, vars};  // predict added the mean's quadratic
    }
    const VectorXd w = stationary->distance_weights(static_cast<int>(X.cols()));
    const double prior = stationary->covariance(0.0);
    // Blocks of query points keep the n x block kernel matrix within the cache.
    constexpr Eigen::Index kBlock = 256;
    MatrixXd Ks;
    for (Eigen::Index start = 0; start < m; start += kBlock) {
        const Eigen::Index b = std::min(kBlock, m - start);
        Ks.setZero(X.rows(), b);
        for (Eigen::Index q = 0; q < b; ++q) {
            for (Eigen::Index c = 0; c < X.cols(); ++c) {
                if (w[c] != 0) Ks.col(q).array() += w[c] * (X.col(c).array() - Xq(start + q, c)).square();
            }
        }
        stationary->covariances(Eigen::Map<Eigen::ArrayXd>(Ks.data(), Ks.size()));
        means.segment(start, b).noalias() = Ks.transpose() * alpha;
        L.triangularView<Eigen::Lower>().solveInPlace(Ks);
        vars.segment(start, b) = (prior - Ks.colwise().squaredNorm().array()).max(0.0).matrix().transpose();
    }
    if (mean_coef.size() > 0) means += detail::bowl_values(mean_coef, Xq);
    return {means, vars};
}

Prediction GaussianProcess::predict_with_gradient(const VectorXd& x) const {
    if (!fitted) throw std::runtime_error("GP not fitted.");
    if (x.size() != X.cols()) throw std::invalid_argument("GP::predict_with_gradient: x.size() != X.cols()");
    const auto* stationary = dynamic_cast<const StationaryKernel*>(kernel.get());
    if (!stationary) {  // a kernel without distances: its gradients by central differences
        const auto [mean, var] = predict(x);
        return {mean, var, utils::central_difference([&](const VectorXd& p) { return predict(p).first; }, x, 1e-6),
                utils::central_difference([&](const VectorXd& p) { return predict(p).second; }, x, 1e-6)};
    }
    const VectorXd w = stationary->distance_weights(static_cast<int>(X.cols()));
    Eigen::ArrayXd D = Eigen::ArrayXd::Zero(X.rows());
    for (Eigen::Index c = 0; c < X.cols(); ++c) {
        if (w[c] != 0) D += w[c] * (X.col(c).array() - x[c]).square();
    }
    VectorXd k = D.matrix();
    stationary->covariances(k.array());
    Eigen::ArrayXd slope = D;
    stationary->covariance_slopes(slope);
    // dk_i/dx_c = slope_i 2 w_c (x_c - X_ic), so s^T dk/dx_c = 2 w_c (x_c sum(s) - X_c^T s).
    const auto gradient_along = [&](const VectorXd& s) -> VectorXd {
        return 2 * w.cwiseProduct(x * s.sum() - X.transpose() * s);
    };
    Prediction p;
    p.mean = k.dot(alpha);
    p.dmean = gradient_along(alpha.cwiseProduct(slope.matrix()));
    if (mean_coef.size() > 0) p.mean += detail::bowl_at(mean_coef, x, &p.dmean);
    L.triangularView<Eigen::Lower>().solveInPlace(k);  // now L^-1 k
    const double var = stationary->covariance(0.0) - k.squaredNorm();
    p.var = var > 0 ? var : 0.0;
    L.triangularView<Eigen::Lower>().transpose().solveInPlace(k);  // now K^-1 k
    p.dvar = var > 0 ? VectorXd(-2 * gradient_along(k.cwiseProduct(slope.matrix()))) : VectorXd::Zero(x.size());
    return p;
}

double GaussianProcess::log_marginal_likelihood() const {
    if (!fitted) return -std::numeric_limits<double>::infinity();
    const int n = static_cast<int>(y.size());
    return -0.5 * y.dot(alpha) - L.diagonal().array().log().sum() - 0.5 * n * kLog2Pi;
}

}  // namespace tarvex
