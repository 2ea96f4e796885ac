// Acquisition functions and the optimiser that maximises them over the unit cube. Larger is
// better; the model predicts values to be minimised. With (mu, v) = gp.predict(x),
// sigma = sqrt(v), z = (best - mu - xi) / sigma:
#pragma once

#include <Eigen/Core>
#include <functional>
#include <random>
#include <vector>

#include "tarvex/gaussian_process.hpp"

namespace tarvex {

enum class AcquisitionType : int { EI = 0, LogEI = 1, UCB = 2, PI = 3 };

// EI = sigma (z Phi(z) + phi(z)); 0 when sigma < 1e-12.  dEI = phi(z) dsigma - Phi(z) dmu
double acq_ei(const GaussianProcess& gp, const VectorXd& x, double best, double xi);
// log EI, with log sigma - z^2 / 2 - log(2 pi) / 2 - 2 log(-z) for z <= -6; -inf when sigma < 1e-12
double acq_logei(const GaussianProcess& gp, const VectorXd& x, double best, double xi);
// UCB = -mu + sqrt(beta v)
double acq_ucb(const GaussianProcess& gp, const VectorXd& x, double beta);
// PI = Phi(z); when sigma < 1e-12, 1 if mu < best else 0.  dPI = phi(z) dz
double acq_pi(const GaussianProcess& gp, const VectorXd& x, double best, double xi);

// What one acquisition needs besides the model: UCB reads beta, the others best and xi.
struct AcqParams {
    AcquisitionType type;
    double best;
    double xi;
    double beta;
};

// The acquisition at x with its gradient in x (zero where the value is a constant step).
std::pair<double, VectorXd> acq_with_gradient(const GaussianProcess& gp, const VectorXd& x, const AcqParams& p);
// The acquisition at every row of Xq, from one batched prediction.
VectorXd acq_batch(const GaussianProcess& gp, const MatrixXd& Xq, const AcqParams& p);

// A constraint's model: the probability that its prediction stays at or below threshold (the
// constraint's 0 on the model's scale) weighs the acquisition.
struct ConstraintModel {
    const GaussianProcess* gp;
    double threshold;
};

// The log of the probability that every constraint holds at x, Σ log Φ((t - μ) / σ), with its
// gradient in x when gradient is given.
double log_feasibility(const std::vector<ConstraintModel>& constraints, const VectorXd& x, VectorXd* gradient);
// The same at every row of Xq.
VectorXd log_feasibility_batch(const std::vector<ConstraintModel>& constraints, const MatrixXd& Xq);

struct AcqOptConfig {
    AcquisitionType acq = AcquisitionType::LogEI;  // EI, LogEI, PI; any other value: UCB
    double xi = 0.0;                               // improvement margin
    double beta = 2.0;                             // UCB weight unless auto_beta replaces it
    bool auto_beta = true;                         // beta = 2 ln(n_obs + 1) when n_obs > 0
    int n_cand = 1024;                             // candidates scored; at least 1
    int n_refine = 10;                             // best candidates refined by L-BFGS
    // Maps a point of the cube, in place, to the encoding of the configuration it decodes to
    // (rounded integers, grid steps, one-hot categoricals). Every point scored passes through
    // it, so is the returned point. Empty: every point of the cube is a configuration.
    std::function<void(Eigen::Ref<VectorXd>)> snap;
    // 1 where the refinement moves a coordinate continuously, 0 where snap fixes it. Empty: all 1.
    VectorXd free;
    // Extra candidates: n_local Gaussian steps around each row of centres, their spreads cycling
    // through local_scale, local_scale / 10 and local_scale / 100.
    MatrixXd centres;
    int n_local = 0;
    double local_scale = 0.1;
    double rel_ftol = 0;  // a refinement stops once a step gains less than this, relatively
    // Constraints: LogEI adds the log probability of feasibility, EI and PI are multiplied by
    // it, UCB ignores it. feasibility_only: the acquisition is that probability alone (its log),
    // for a search with no feasible point yet.
    std::vector<ConstraintModel> constraints;
    bool feasibility_only = false;
};

// The point of [0, 1]^d maximising the acquisition: shifted Halton candidates (and any local
// ones), the best n_refine of them refined by L-BFGS on the analytic gradient.
// Throws std::invalid_argument for n_cand < 1.
VectorXd optimise_acquisition(const GaussianProcess& gp, int d, double best, int n_obs, const AcqOptConfig& cfg,
                              std::mt19937_64& rng);

}  // namespace tarvex
