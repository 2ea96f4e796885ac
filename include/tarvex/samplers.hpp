// Samplers and search space: the sampler interface, random sampling, the unit-cube
// encoding of parameters and the Gaussian-process sampler.
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "tarvex/acquisition.hpp"
#include "tarvex/storage.hpp"
#include "tarvex/study.hpp"

namespace tarvex {

class ISampler {
public:
    virtual ~ISampler() = default;
    // Once per optimisation run, before its first trial is created.
    virtual void before_study(const Study& study);
    // Only for a name the trial holds neither in params nor in fixed_params.
    virtual ParamValue sample_independent(const Study& study, const Trial& trial,
                                          const std::string& name, const Distribution& dist) = 0;
    // Once per finished run trial, before it is written to storage.
    virtual void after_trial(const Study& study, const Trial& trial);
};

// Every parameter drawn independently and uniformly from its distribution.
class RandomSampler : public ISampler {
public:
    // seed 0: seeded from the platform's random device.
    explicit RandomSampler(std::uint64_t seed);
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;

private:
    std::mt19937_64 rng;  // guarded by mutex
    std::mutex mutex;
};

struct ParamSpec {
    std::string name;
    Distribution dist;
};

// An ordered registry of parameters and their unit-cube encoding. A float or int parameter
// takes one coordinate, (v - low) / (high - low) (of the logarithms on a log scale); a
// categorical with n choices takes a one-hot block of n coordinates.
class SearchSpace {
public:
    void add_float(const std::string& name, double low, double high, bool log, std::optional<double> step);
    void add_int(const std::string& name, int low, int high, bool log, int step);
    void add_categorical(const std::string& name, std::vector<std::string> choices);
    // The add_ operation the distribution's kind calls for.
    void add(const std::string& name, const Distribution& dist);

    void assert_unique(const std::string& name) const;
    bool has_param(const std::string& name) const;
    const ParamSpec& get_param(const std::string& name) const;
    int unit_dim(const std::string& name) const;
    int total_unit_dim() const;

    // Not clamped: a value outside the bounds maps outside [0, 1]. A categorical maps to i / (n - 1).
    double to_unit(const std::string& name, const ParamValue& v) const;
    Eigen::VectorXd to_unit_block(const std::string& name, const ParamValue& v) const;
    // u is clamped into [0, 1]; steps and int rounding are applied on the way back.
    ParamValue from_unit(const std::string& name, double u) const;
    ParamValue from_unit_block(const std::string& name, const Eigen::VectorXd& block) const;
    // Maps a point of the cube, in place, to the encoding of the configuration it decodes to:
    // one-hot categoricals, integers and stepped floats on their grid, plain floats clamped.
    void snap(Eigen::Ref<Eigen::VectorXd> x) const;
    // 1 at the coordinates of plain floats, which snap leaves free, 0 elsewhere.
    Eigen::VectorXd continuous_mask() const;

    std::vector<ParamSpec> specs;
    std::unordered_map<std::string, std::size_t> index;

private:
    void append(const std::string& name, Distribution dist);
};

struct GPSamplerConfig {
    KernelType kernel = KernelType::Matern52;
    AcquisitionType acq = AcquisitionType::LogEI;
    double noise_var = 1e-6;  // initial observation-noise variance, of the standardised targets
    bool use_priors = true;   // log-normal priors on the kernel hyperparameters
    bool fit_noise = false;   // fit the noise variance too
    int n_restarts = 2;       // random restarts of a cold hyperparameter fit, and of every 10th warm one
    int n_warmup = 8;         // completed trials needed before the model is used
    double xi = 0.0;          // improvement margin of EI, LogEI and PI
    double beta = 2.0;        // UCB weight, unless auto_beta
    bool auto_beta = true;    // UCB weight 2 ln(n_obs + 1)
    int n_cand = 1024;        // candidates scored per recommendation; at least 1
    std::uint64_t seed = 0;   // 0: a nondeterministic generator, fixed warm-up shifts
    int max_fit_rows = 200;   // hyperparameters fitted on at most this many observations (0: all)
    int n_local = 32;         // extra candidates around each of the best observations
};

namespace detail {
struct TrainingData;  // the rows a GPSampler's models learn from
}  // namespace detail

// Bayesian optimisation for single-objective studies: once n_warmup trials have completed, each
// trial gets one whole recommended configuration, cached under its study and identifier: a GP
// fitted to every trial that ran with parameters (failed, pruned and non-finite ones at the worst
// completed value), the acquisition maximised over the configurations the space can take. The
// space follows the parameter names and the newest distributions those trials used. Before that,
// and for names outside the recommendation, values come from a shifted Halton sequence with one
// dimension per name.
class GPSampler : public ISampler {
public:
    // Throws std::invalid_argument for n_cand < 1.
    explicit GPSampler(GPSamplerConfig config);
    // Throws std::invalid_argument for a multi-objective study, before any trial runs.
    void before_study(const Study& study) override;
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;
    void after_trial(const Study& study, const Trial& trial) override;

    const GPSamplerConfig config;

private:
    // What the sampler keeps of a study between its recommendations; it goes with its storage.
    struct StudyMemory {
        std::weak_ptr<IStorage> storage;
        TrialCache trials;                // what was read of the study, refreshed with what is new
        std::vector<std::string> layout;  // the space's parameter names at the last fit, in column order
        Eigen::VectorXd kernel_params;    // where the last fit ended, to start the next one from
        double noise_var = 0;
        int fits_since_restarts = 0;      // warm fits since the last one with random restarts
        int recommendations = 0;          // made for the study, which decides the local ones
    };

    // The three below run with mutex held.
    ParamValue warmup_sample(const Trial& trial, const std::string& name, const Distribution& dist);
    ParamMap compute_recommendation(const Study& study, const Trial& trial);
    // The point maximising the acquisition of a model of every trial, running ones as placeholders.
    Eigen::VectorXd global_proposal(const Study& study, const Trial& trial, const std::vector<const Trial*>& running,
                                    detail::TrainingData& data, StudyMemory& memory);

    // A trial as the sampler knows it: studies sharing the sampler number their trials alike.
    struct TrialKey {
        std::int32_t study_id;
        std::int32_t trial_id;
        bool operator==(const TrialKey&) const = default;
    };
    struct TrialKeyHash {
        std::size_t operator()(const TrialKey& k) const noexcept {
            return std::hash<std::uint64_t>{}(std::uint64_t{static_cast<std::uint32_t>(k.study_id)} << 32 |
                                              static_cast<std::uint32_t>(k.trial_id));
        }
    };
    using RecommendationMap = std::unordered_map<TrialKey, ParamMap, TrialKeyHash>;

    std::mutex mutex;
    std::mt19937_64 rng;                              // guarded by mutex; only recommendations draw
    std::unordered_map<std::string, int> dim_index;  // guarded by mutex; warm-up dimension per name
    int next_dim = 0;                                 // guarded by mutex
    RecommendationMap cache;                          // guarded by mutex; each trial's recommendation
    RecommendationMap pending;                        // guarded by mutex; recommendations of running trials
    std::unordered_map<std::int32_t, StudyMemory> memories;  // guarded by mutex
};

}  // namespace tarvex
