// Bayesian optimisation with a Gaussian-process model of the objective.
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "tarvex/acquisition.hpp"
#include "tarvex/sampler.hpp"
#include "tarvex/search_space.hpp"

namespace tarvex {

struct GPSamplerConfig {
    KernelType kernel = KernelType::Matern52;
    AcquisitionType acq = AcquisitionType::LogEI;
    double noise_var = 1e-6;  // initial observation-noise variance, of the standardised targets
    bool use_priors = true;   // log-normal priors on the kernel hyperparameters
    bool fit_noise = false;   // fit the noise variance too
    int n_restarts = 2;       // random restarts of a cold hyperparameter fit, and of every restart_every-th warm one
    int n_warmup = 8;         // completed trials needed before the model is used
    double xi = 0.0;          // improvement margin of EI, LogEI and PI
    double beta = 2.0;        // UCB weight, unless auto_beta
    bool auto_beta = true;    // UCB weight 2 ln(n_obs + 1)
    int n_cand = 1024;        // candidates scored per recommendation; at least 1
    std::uint64_t seed = 0;   // 0: a nondeterministic generator, fixed warm-up shifts
    int max_fit_rows = 200;   // hyperparameters fitted on at most this many observations (0: all)
    int n_local = 32;         // extra candidates around each of the best observations

    // How the acquisition is maximised. The optimum sits next to the best observations once the
    // model knows the landscape; candidates around them, down to a thousandth of the cube, find
    // it precisely.
    int n_refine = 10;         // best candidates refined by L-BFGS
    double refine_tol = 1e-9;  // a refinement stops once a step gains less than this, relatively
    int n_centres = 3;         // best observations that local candidates surround
    double local_scale = 0.1;  // largest spread of the local candidates, in unit-cube coordinates
    // A study's fit starts from its previous one, which moves little with one more observation;
    // random restarts, which look for other optima of the likelihood, run on every
    // restart_every-th fit.
    int restart_every = 10;
    // Standardised over all observations, the values near the optimum differ by less than the
    // model's noise floor, and the global model stops resolving them. So every local_every-th
    // recommendation of a study with enough observations (twice the local model's rows) comes
    // from a local model: the max(min_local_rows, 5 d) observations nearest the best one,
    // standardised on their own values; every other one of those, where every parameter is a
    // float, from a Newton step on a quadratic fitted to the values nearest the best one, where
    // one with a minimum fits. 0: never.
    int local_every = 3;
    int min_local_rows = 25;
    // Values spanning orders of magnitude are modelled on a log scale above their minimum (the
    // order of the trials kept), so the model still tells the good ones apart.
    bool warp_values = false;
    // A study of several objectives is sampled rather than refused: one model per objective and
    // the point of largest expected hypervolume improvement (its logarithm) over the front of the
    // feasible observations (with fit_noise the front is of the models' means; running trials
    // join it at their predicted values). Exact for independent Gaussian predictions up to three
    // objectives; beyond, where the exact region's cells grow as n^(m - 1), estimated at 1,024
    // fixed quasi-random points of the region the front leaves. With random_scalarisations:
    // ParEGO's cheaper way, each proposal modelling an augmented Chebyshev sum of the objectives
    // scaled to their observed ranges, with weights drawn afresh.
    bool multi_objective = false;
    bool random_scalarisations = false;
    // Proposals of a single-objective study without constraints stay in a trust region (TuRBO):
    // a box around the best observation, 0.8 of the cube's side at first, doubled after three
    // improvements in a row and halved after max(4, d) proposals in a row that improve nothing,
    // started again once it is smaller than 0.5^7. It is replayed from the stored trials, so the
    // processes of a study share it. Categorical parameters are not restricted.
    bool trust_region = false;
    // Where every parameter is continuous and the study holds at least 3 d observations, a
    // single-objective study without constraints also fits the model in coordinates turned
    // (about the cube's centre) onto the principal axes of the better half of the observations,
    // and proposes from it where its marginal likelihood is the higher: the lengthscales then
    // follow valleys and ill-conditioned bowls that lie across the parameters.
    bool principal_axes = false;
    // Where the study holds at least 4 d + 2 observations (d: the cube's dimension), the global
    // model is fitted a second time with a convex separable quadratic as its mean, and that one
    // proposes where its marginal likelihood, less half a log n per quadratic coefficient, is the
    // higher: a bowl under ripples then guides the search beyond the observations.
    bool quadratic_mean = false;
    // The point, one value per objective in its own units, beyond which values do not count:
    // the hypervolume improved is the one bounded by it, as a benchmark or a budget (a latency
    // of at most 50 ms) measures it. Empty: three tenths of the front's range beyond its worst
    // values. Unused by random_scalarisations.
    std::vector<double> reference_point{};

    // Throws std::invalid_argument naming the first field out of range.
    void validate() const;
};

// Bayesian optimisation for single-objective studies. Once n_warmup trials have completed, each
// trial gets one whole proposal: a GP fitted to every trial that ran with parameters (failed,
// pruned and non-finite ones at the worst completed value, running ones at the mean), the
// acquisition maximised over the configurations the space can take. The space follows the
// parameter names and the newest distributions those trials used. Before that, and for names
// outside the proposal, values come from a shifted Halton sequence with one dimension per name.
class GPSampler : public ISampler {
public:
    // Throws std::invalid_argument for a config that validate() rejects.
    explicit GPSampler(GPSamplerConfig config);
    // Throws std::invalid_argument for a multi-objective study, before any trial runs.
    void before_study(const Study& study) override;
    // The warm-up value: point trial_id + 1 of the name's Halton dimension.
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;
    bool proposes() const override { return true; }
    ParamMap propose(const History& history, const Trial& trial, SamplerState* state) override;
    std::unique_ptr<SamplerState> make_state(const Study& study) override;
    bool is_slow() const override { return true; }
    std::string saved_state() const override;
    void restore_state(const std::string& text) override;

    const GPSamplerConfig config;

private:
    mutable std::mutex mutex;
    std::mt19937_64 rng;                             // guarded by mutex; only proposals draw
    std::unordered_map<std::string, int> dim_index;  // guarded by mutex; warm-up dimension per name
    int next_dim = 0;                                // guarded by mutex
};

}  // namespace tarvex
