// Tree-structured Parzen estimators: a density of the good trials against one of the others.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>

#include "tarvex/random_sampler.hpp"
#include "tarvex/sampler.hpp"

namespace tarvex {

struct TPESamplerConfig {
    int n_startup_trials = 10;  // finished trials drawn at random before the model is used
    int n_ei_candidates = 24;   // candidates drawn from the good trials' density per proposal
    // One joint density over the parameters that trials use together; false: one per parameter.
    bool multivariate = true;
    double prior_weight = 1.0;  // weight of the uniform prior component in each density
    // Running trials (of this process and, on a database, of others) count as the worst, so
    // concurrent trials do not all go to the same place.
    bool constant_liar = true;
    // How many of n ranked trials count as good; by default min(ceil(0.1 n), 25).
    std::function<int(int n)> gamma;
    std::uint64_t seed = 0;  // 0: a nondeterministic generator

    // Throws std::invalid_argument naming the first field out of range.
    void validate() const;
    int n_good(int n) const;
};

// Each trial gets one proposal once n_startup_trials trials have finished: the parameters are
// split into groups that trials always use together (so each branch of a conditional space has
// its own), and each group's values are the candidate, of n_ei_candidates drawn from the good
// trials' density, with the largest ratio of that density to the others'. Trials rank by value
// (several objectives: by non-dominated front); a pruned trial by its last report, ranked among
// the completed trials at that step, else after them by how far it got; failed trials last. A
// configuration already tried is not proposed again while others remain. Names outside the
// proposal, and every name before the model is used, are drawn at random.
class TPESampler : public ISampler {
public:
    // Throws std::invalid_argument for a config that validate() rejects.
    explicit TPESampler(TPESamplerConfig config);
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;
    bool proposes() const override { return true; }
    ParamMap propose(const History& history, const Trial& trial, SamplerState* state) override;
    std::unique_ptr<SamplerState> make_state(const Study& study) override;
    // A proposal reads every trial: about a millisecond at a thousand.
    bool is_slow() const override { return true; }
    std::string saved_state() const override;
    void restore_state(const std::string& text) override;

    const TPESamplerConfig config;

private:
    mutable std::mutex mutex;
    std::mt19937_64 rng;  // guarded by mutex
    RandomSampler random;
};

}  // namespace tarvex
