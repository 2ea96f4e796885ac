// The Gaussian-process regression model: a jittered Cholesky factorisation of the kernel matrix,
// predictions with their gradients, and the hyperparameter fit by L-BFGS on the negative log
// marginal likelihood (plus priors) with its analytic gradient.
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <memory>
#include <utility>

#include "tarvex/kernels.hpp"

namespace tarvex {

namespace utils {
// Lower Cholesky factor of A + jitter 10^k I for the first k in 0..5 that factorises; the
// strictly upper part is zero. Throws std::runtime_error when all six fail.
MatrixXd stable_cholesky(const MatrixXd& A, double jitter);
}  // namespace utils

// Posterior mean and latent variance at a point, with their gradients with respect to the point.
struct Prediction {
    double mean;
    double var;
    VectorXd dmean;
    VectorXd dvar;
};

class GaussianProcess {
public:
    GaussianProcess(std::unique_ptr<IKernel> kernel, double noise_var, int n_restarts);

    // Copies the data, makes the kernel ARD over X.cols() inputs, then fits the hyperparameters
    // (optimise) or just factorises. X and y must be finite. With quadratic_mean, the y kept is
    // what is left of it after the quadratic mean.
    void fit(const MatrixXd& X, const VectorXd& y, bool optimise);
    // L = chol(K(X, X) + noise_var I + jitter I), alpha = K^-1 y, for the current hyperparameters.
    void recompute(const MatrixXd& X, const VectorXd& y);
    // Restarted L-BFGS on fit_loss, starting from the current hyperparameters; restarts seeded with 42.
    void optimise_kernel(const MatrixXd& X, const VectorXd& y);
    // What the fit minimises at theta = [kernel params..., log noise_var when fit_noise]:
    //   E = y^T alpha / 2 + sum_i log L_ii + n log(2 pi) / 2  (+ log-normal priors when use_priors)
    //   dE/dtheta_k = -tr((alpha alpha^T - K^-1) dK/dtheta_k) / 2
    // Leaves the model at theta, factorised on X and y.
    std::pair<double, VectorXd> fit_loss(const VectorXd& theta, const MatrixXd& X, const VectorXd& y);

    // (mean, latent variance) at x: mean = k^T alpha, var = k(x, x) - |L^-1 k|^2 floored at 0.
    std::pair<double, double> predict(const VectorXd& x) const;
    // The same for every row of Xq: one kernel block and one triangular solve for all rows.
    std::pair<VectorXd, VectorXd> predict_batch(const MatrixXd& Xq) const;
    // The same at x, with d mean / dx = (dk/dx)^T alpha and d var / dx = -2 (dk/dx)^T K^-1 k.
    Prediction predict_with_gradient(const VectorXd& x) const;
    // -y^T alpha / 2 - sum_i log L_ii - n log(2 pi) / 2; -inf before the first fit.
    double log_marginal_likelihood() const;
    // Covariance factorisations attempted since construction, jittered retries included.
    std::int64_t n_factorisations() const { return factorisations; }

    std::unique_ptr<IKernel> kernel;
    double noise_var;
    int n_restarts;
    bool use_priors = false;
    bool fit_noise = false;
    // The hyperparameters are fitted on at most this many rows, a fixed random subset, and the
    // posterior then uses every row; 0 fits on all. Long studies keep their fits affordable.
    int max_fit_rows = 0;
    // fit first takes out a convex separable quadratic fitted to y by least squares, and the
    // kernel models what it leaves; predictions add it back. Far from the data the mean then
    // follows the bowl the observations lie in rather than reverting to a constant.
    bool quadratic_mean = false;
    // The quadratic taken out, [c, b_1..b_d, a_1..a_d] of c + b.x + a.x^2; empty for none.
    VectorXd mean_coef;

    MatrixXd X;
    VectorXd y;
    MatrixXd L;
    VectorXd alpha;
    bool fitted = false;

private:
    enum class CovarianceSource { Packed, Distances, Kernel };
    void fill_covariance(MatrixXd& K, const MatrixXd& X, CovarianceSource source) const;
    // recompute, with the pairwise squared differences cached for further evaluations on X or not.
    void factorise(const MatrixXd& X, const VectorXd& y, bool cache);
    void cache_sq_diffs(const MatrixXd& X);
    void set_hyperparameters(const VectorXd& theta);

    // Work kept across recomputes so a likelihood evaluation allocates nothing.
    MatrixXd sq_diffs_for;  // the inputs sq_diffs was built from
    MatrixXd sq_diffs;      // packed lower triangle, column k: (x_i,k - x_j,k)^2 for i >= j
    VectorXd packed_dist;   // scaled squared distances of the packed pairs
    VectorXd packed_cov;    // covariances of the packed pairs
    MatrixXd work;          // factorised in place, then swapped with L; upper part stays zero
    VectorXd work_alpha;
    VectorXd inverse;  // one column of K^-1 at a time, for the likelihood gradient
    std::int64_t factorisations = 0;
};

}  // namespace tarvex
