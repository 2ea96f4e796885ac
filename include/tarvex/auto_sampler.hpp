// A sampler that picks, for each trial, the sampler that suits the study as it stands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tarvex/cmaes_sampler.hpp"
#include "tarvex/gp_sampler.hpp"
#include "tarvex/nsga2_sampler.hpp"
#include "tarvex/random_sampler.hpp"
#include "tarvex/sampler.hpp"
#include "tarvex/tpe_sampler.hpp"

namespace tarvex {

struct AutoSamplerConfig {
    // A flat study goes to the GP while it has fewer finished trials than this; past it, where
    // a GP proposal costs tens of milliseconds, to CMA-ES or TPE. Handed over later, CMA-ES had
    // too few trials left to learn the shape of ill-conditioned and multimodal functions.
    int max_gp_trials = 100;
    // The same with several objectives, before NSGA-II: its first population comes from the GP's
    // trials, and on 30-D problems it needs the fronts of 200 of them.
    int max_gp_trials_multi_objective = 200;
    std::uint64_t seed = 0;  // 0: a nondeterministic generator

    // Throws std::invalid_argument naming the first field out of range.
    void validate() const;
};

// The choice, made again at each trial from the finished trials: a conditional space (trials
// that use different parameters) goes to TPESampler; a flat space to GPSampler while the study
// is small (with several objectives, by expected hypervolume improvement), then, for one
// objective, to CMAESSampler with its surrogate where every parameter is numeric (started at the
// best trial so far) and to TPESampler otherwise, and for several objectives to NSGA2Sampler (whose first
// population is the best of the GP's trials). The trial keeps the choice in its system
// attribute "auto_sampler" ("GPSampler", "TPESampler", "CMAESSampler" or "NSGA2Sampler").
class AutoSampler : public ISampler {
public:
    // Throws std::invalid_argument for a config that validate() rejects.
    explicit AutoSampler(AutoSamplerConfig config);
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;
    void before_study(const Study& study) override;
    void after_trial(const Study& study, const Trial& trial) override;
    void annotate(Trial& trial, SamplerState* state) override;
    bool proposes() const override { return true; }
    ParamMap propose(const History& history, const Trial& trial, SamplerState* state) override;
    std::unique_ptr<SamplerState> make_state(const Study& study) override;
    bool is_slow() const override { return true; }
    // Those of the samplers it hands trials to.
    std::string saved_state() const override;
    void restore_state(const std::string& text) override;

    const AutoSamplerConfig config;

private:
    // The sampler that takes a flat study over from the GP: CMA-ES for one objective, NSGA-II
    // for several.
    ISampler& successor(const Study& study) const;

    const std::shared_ptr<GPSampler> gp;
    const std::shared_ptr<TPESampler> tpe;
    const std::shared_ptr<CMAESSampler> cmaes;
    const std::shared_ptr<NSGA2Sampler> nsga2;
};

}  // namespace tarvex
