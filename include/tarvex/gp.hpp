// Gaussian-process engine: covariance kernels, the GP regression model with its jittered
// Cholesky factorisation and hyperparameter fit, the box-constrained L-BFGS minimiser, the
// acquisition functions and the optimiser that maximises them over the unit cube.
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>

namespace tarvex {

using Eigen::MatrixXd;
using Eigen::VectorXd;

// ---------------------------------------------------------------------------------------------
// Kernels

enum class KernelType : int { RBF = 0, Matern52 = 1 };

class IKernel {
public:
    virtual ~IKernel() = default;
    virtual double eval(const VectorXd& x1, const VectorXd& x2) const = 0;
    // [log variance, log sq_lengthscale_1, ...]
    virtual VectorXd get_params() const = 0;
    virtual void set_params(const VectorXd& p) = 0;
    virtual int n_params() const = 0;
    // Makes the kernel ARD over d inputs, every lengthscale taking the first one's value.
    virtual void set_input_dim(int d) = 0;
    virtual std::string name() const = 0;
    virtual std::unique_ptr<IKernel> clone() const = 0;

    // K(i, j) = eval(x_i, x_j) over the rows of X; the lower triangle is evaluated and mirrored.
    MatrixXd matrix(const MatrixXd& X) const;
    // k(i) = eval(x_i, x)
    VectorXd vector(const MatrixXd& X, const VectorXd& x) const;
};

// A kernel that depends on the points only through the scaled squared distance
//   D(x1, x2) = sum_i (x1_i - x2_i)^2 / l_i^2   (one shared l^2 when isotropic),
// which lets the model evaluate whole covariance matrices from cached squared differences.
class StationaryKernel : public IKernel {
public:
    StationaryKernel(double sigma, double lengthscale);
    double eval(const VectorXd& x1, const VectorXd& x2) const override;
    VectorXd get_params() const override;
    void set_params(const VectorXd& p) override;
    int n_params() const override;
    void set_input_dim(int d) override;

    // The covariance at scaled squared distance D.
    virtual double covariance(double D) const = 0;
    // The same, in place over an array of distances.
    virtual void covariances(Eigen::Ref<Eigen::ArrayXd> D) const = 0;
    // w with D = sum_k w_k (x1_k - x2_k)^2 over the first d coordinates.
    VectorXd distance_weights(int d) const;

    double variance;           // sigma^2
    VectorXd sq_lengthscales;  // l^2: size 1 (isotropic) or one per input dimension (ARD)
};

// k(x1, x2) = sigma^2 exp(-D / 2)
class RBFKernel : public StationaryKernel {
public:
    using StationaryKernel::StationaryKernel;
    double covariance(double D) const override;
    void covariances(Eigen::Ref<Eigen::ArrayXd> D) const override;
    std::string name() const override;
    std::unique_ptr<IKernel> clone() const override;
};

// k(x1, x2) = sigma^2 (1 + t + t^2 / 3) exp(-t),  t = sqrt(5 D)
class Matern52Kernel : public StationaryKernel {
public:
    using StationaryKernel::StationaryKernel;
    double covariance(double D) const override;
    void covariances(Eigen::Ref<Eigen::ArrayXd> D) const override;
    std::string name() const override;
    std::unique_ptr<IKernel> clone() const override;
};

std::unique_ptr<IKernel> make_kernel(KernelType type, double sigma, double lengthscale);

// ---------------------------------------------------------------------------------------------
// Gaussian-process model

namespace utils {
// Lower Cholesky factor of A + jitter 10^k I for the first k in 0..5 that factorises; the
// strictly upper part is zero. Throws std::runtime_error when all six fail.
MatrixXd stable_cholesky(const MatrixXd& A, double jitter);
}  // namespace utils

class GaussianProcess {
public:
    GaussianProcess(std::unique_ptr<IKernel> kernel, double noise_var, int n_restarts);

    // Copies the data, makes the kernel ARD over X.cols() inputs, then fits the hyperparameters
    // (optimise) or just factorises. X and y must be finite.
    void fit(const MatrixXd& X, const VectorXd& y, bool optimise);
    // L = chol(K(X, X) + noise_var I + jitter I), alpha = K^-1 y, for the current hyperparameters.
    void recompute(const MatrixXd& X, const VectorXd& y);
    // Restarted L-BFGS on the negative log marginal likelihood (plus priors), seeded with 42.
    void optimise_kernel(const MatrixXd& X, const VectorXd& y);

    // (mean, latent variance) at x: mean = k^T alpha, var = k(x, x) - |L^-1 k|^2 floored at 0.
    std::pair<double, double> predict(const VectorXd& x) const;
    std::pair<VectorXd, VectorXd> predict_batch(const MatrixXd& Xq) const;
    // -y^T alpha / 2 - sum_i log L_ii - n log(2 pi) / 2; -inf before the first fit.
    double log_marginal_likelihood() const;

    // Covariance factorisations attempted since construction, jittered retries included.
    std::int64_t n_factorisations() const { return factorisations; }

    std::unique_ptr<IKernel> kernel;
    double noise_var;
    int n_restarts;
    bool use_priors = false;
    bool fit_noise = false;
    MatrixXd X;
    VectorXd y;
    MatrixXd L;
    VectorXd alpha;
    bool fitted = false;

private:
    void fill_covariance(MatrixXd& K, const MatrixXd& X, bool packed) const;
    void cache_sq_diffs(const MatrixXd& X);

    // Work kept across recomputes so a likelihood evaluation allocates nothing.
    MatrixXd sq_diffs_for;  // the inputs sq_diffs was built from
    MatrixXd sq_diffs;      // packed lower triangle, column k: (x_i,k - x_j,k)^2 for i >= j
    VectorXd packed_cov;    // covariances of the packed pairs
    MatrixXd work;          // factorised in place, then swapped with L; upper part stays zero
    VectorXd work_alpha;
    std::int64_t factorisations = 0;
};

// ---------------------------------------------------------------------------------------------
// L-BFGS

struct LBFGSConfig {
    int max_iter = 200;         // accepted steps at most
    int history = 10;           // (s, y) pairs kept
    double gtol = 1e-5;         // stop when the projected gradient's max-norm falls below
    double c1 = 1e-4;           // Armijo constant
    double step0 = 1.0;         // first trial step of each line search
    double min_step = 1e-10;    // smallest step tried
    int max_linesearch = 25;    // trial points per line search
};

struct LBFGSResult {
    VectorXd x;      // last accepted point, inside the box
    double f;        // objective at x
    int n_iter;      // accepted steps
    bool converged;  // the projected-gradient test ended the run
};

using LBFGSObjective = std::function<std::pair<double, VectorXd>(const VectorXd&)>;

namespace utils {
// Minimises objective over the box [lower, upper] from x0 (projected onto the box).
LBFGSResult lbfgs_minimize(const LBFGSObjective& objective, VectorXd x0, VectorXd lower, VectorXd upper,
                           LBFGSConfig config);
}  // namespace utils

// ---------------------------------------------------------------------------------------------
// Acquisition functions: larger is better; the model predicts values to be minimised.
// With (mu, v) = gp.predict(x), sigma = sqrt(v), z = (best - mu - xi) / sigma:

enum class AcquisitionType : int { EI = 0, LogEI = 1, UCB = 2, PI = 3 };

// EI = sigma (z Phi(z) + phi(z)); 0 when sigma < 1e-12
double acq_ei(const GaussianProcess& gp, const VectorXd& x, double best, double xi);
// log EI, with log sigma - z^2 / 2 - log(2 pi) / 2 - 2 log(-z) for z <= -6; -inf when sigma < 1e-12
double acq_logei(const GaussianProcess& gp, const VectorXd& x, double best, double xi);
// UCB = -mu + sqrt(beta v)
double acq_ucb(const GaussianProcess& gp, const VectorXd& x, double beta);
// PI = Phi(z); when sigma < 1e-12, 1 if mu < best else 0
double acq_pi(const GaussianProcess& gp, const VectorXd& x, double best, double xi);

struct AcqOptConfig {
    AcquisitionType acq = AcquisitionType::LogEI;  // EI, LogEI, PI; any other value: UCB
    double xi = 0.003;                             // improvement margin
    double beta = 2.0;                             // UCB weight unless auto_beta replaces it
    bool auto_beta = true;                         // beta = 2 ln(n_obs + 1) when n_obs > 0
    int n_cand = 1024;                             // candidates scored; at least 1
    int n_refine = 10;                             // best candidates refined by L-BFGS
};

// The point of [0, 1]^d maximising the acquisition: shifted Halton candidates, the best
// n_refine of them refined by L-BFGS. Throws std::invalid_argument for n_cand < 1.
VectorXd optimise_acquisition(const GaussianProcess& gp, int d, double best, int n_obs, const AcqOptConfig& cfg,
                              std::mt19937_64& rng);

}  // namespace tarvex
