// NSGA-II: a genetic algorithm for one or more objectives, with constraints, for budgets of
// hundreds to many thousands of trials. NSGA-III's reference-point selection is an option for
// four objectives and more.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "tarvex/sampler.hpp"

namespace tarvex {

// Crowding: by crowding distance, the classic NSGA-II. Hypervolume: dropping the member that adds
// the least hypervolume, one at a time (SMS-EMOA's rule), which keeps more of the front's
// hypervolume with two and three objectives (beyond, NSGA-III's niching). ReferencePoints: NSGA-III's
// niching around structured reference directions, which keeps a spread front of four objectives
// and more.
enum class NSGA2Selection { Crowding, Hypervolume, ReferencePoints };

struct NSGA2SamplerConfig {
    int population_size = 50;
    // The chance that a child's parameter is mutated (polynomial mutation for numbers, a random
    // choice for categoricals); none: 1 / the number of parameters.
    std::optional<double> mutation_prob;
    double crossover_prob = 0.9;  // the chance that two parents are crossed rather than copied
    // For each parameter of two crossed parents, the chance of crossing it (simulated binary
    // crossover for numbers; for categoricals the chance that the children swap their choices).
    double swapping_prob = 0.5;
    double crossover_eta = 15;  // the spread of simulated binary crossover: larger, closer to the parents
    double mutation_eta = 20;   // the same for polynomial mutation
    // How the best front that does not fit into the population whole is cut.
    NSGA2Selection selection = NSGA2Selection::Hypervolume;
    int reference_divisions = 0;  // ReferencePoints: divisions of each axis; 0: chosen by the number of objectives
    // Draws the first generation, and parameters outside the space the population shares; null:
    // random search.
    std::shared_ptr<ISampler> independent_sampler;
    std::uint64_t seed = 0;  // 0: a nondeterministic generator

    // Throws std::invalid_argument naming the first field out of range.
    void validate() const;
};

// Where a study's search stands: generations selected so far and the population's size.
struct NSGA2Progress {
    int generation = 0;
    int population = 0;
};

// The first population_size completed trials come from the independent sampler. From then on,
// every population_size further completed trials (in trial_id order) join the population and
// the best population_size of the union survive: fronts of constrained domination (feasible
// trials by Pareto fronts, then infeasible ones by total violation, the sum of their positive
// constraint values), the last front cut by crowding distance or reference points. Because the
// survivors are drawn from every completed trial the study holds, the population is the
// study's, whichever process ran them: another process continues it, and a crashed worker's
// trials are simply not there. Children are bred in pairs from binary tournaments over the
// population. The search space is the parameters every survivor holds with the same
// distribution; failed, pruned and NaN trials take no part.
class NSGA2Sampler : public ISampler {
public:
    // Throws std::invalid_argument for a config that validate() rejects.
    explicit NSGA2Sampler(NSGA2SamplerConfig config);
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;
    void before_study(const Study& study) override;
    void after_trial(const Study& study, const Trial& trial) override;
    bool proposes() const override { return true; }
    ParamMap propose(const History& history, const Trial& trial, SamplerState* state) override;
    std::unique_ptr<SamplerState> make_state(const Study& study) override;
    // The independent sampler's; the search itself is the study's.
    std::string saved_state() const override;
    void restore_state(const std::string& text) override;

    // The search of study, which must have taken this sampler; read it between runs.
    NSGA2Progress progress(const Study& study) const;

    const NSGA2SamplerConfig config;

private:
    const std::shared_ptr<ISampler> independent;
};

}  // namespace tarvex
