// CMA-ES: an evolution strategy that learns the shape of the search space, for continuous and
// integer parameters and budgets of hundreds of trials and more.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tarvex/sampler.hpp"

namespace tarvex {

// What happens when the search stalls: nothing (it keeps refining), or a restart from a random
// point with a population larger each time (IPOP), or alternating between such large populations
// and small ones with short steps, each regime getting about as many trials as the other (BIPOP).
enum class CMARestart { None, IPOP, BIPOP };
// How a candidate outside the bounds is brought in: reflected at the bound it crossed, or drawn
// again (up to ten times, then reflected).
enum class CMABounds { Mirror, Resample };

struct CMAESSamplerConfig {
    // The starting mean, by parameter name; names it lacks start at the middle of their range.
    ParamMap x0;
    // The starting step, as a fraction of each parameter's range (on its log scale where it has one).
    double sigma0 = 0.2;
    int n_startup_trials = 1;  // finished trials drawn independently before the search starts
    int popsize = 0;           // candidates per generation; 0: 4 + floor(3 ln n) for n parameters
    CMARestart restart_strategy = CMARestart::IPOP;
    int inc_popsize = 2;  // the factor by which a restart grows the population
    // Integers and stepped floats keep a chance of at least 1/(n popsize) to move to each
    // neighbouring value (CMA-ES with margin), so they never freeze at one value too early.
    bool with_margin = true;
    // A diagonal covariance: cost linear in the number of parameters, for a hundred and more.
    bool separable = false;
    CMABounds bounds = CMABounds::Resample;  // the better of the two on the bbob suite
    // Good configurations of an earlier, similar study: the search starts at their mean, with a
    // covariance taken from their spread (warm starting).
    std::vector<ParamMap> warm_start;
    // Without warm_start: a search that starts on a study already holding completed trials (one
    // another sampler began) starts at the best of them, where there are at least two, with a
    // step of sigma0 / 2.
    bool warm_start_from_history = false;
    // A linear-quadratic model of the recent trials' values ranks each generation, which then
    // evaluates its best candidates only, as many as it takes for the model's order to agree with
    // the values (lq-CMA-ES): several times fewer trials on smooth problems, at the cost of a
    // least-squares fit (a fraction of a millisecond at 10 parameters) per trial. Beyond 20
    // parameters the model leaves out the cross terms.
    bool surrogate = false;
    // The search has stalled (and restarts, under a restart strategy) once the best values of its
    // recent generations, and those of the last one, differ by less than tol_fun times their
    // magnitude (at least 1). The default refines a basin to its last digits; a looser one gives
    // the rest of the budget to other basins sooner, at the cost of precision in the first.
    double tol_fun = 1e-12;
    // Draws categorical parameters, parameters outside the joint space of the finished trials,
    // and every parameter of the startup trials; null: random search.
    std::shared_ptr<ISampler> independent_sampler;
    std::uint64_t seed = 0;  // 0: a nondeterministic generator

    // Throws std::invalid_argument naming the first field out of range.
    void validate() const;
};

// Where a study's search stands: the generation, its population and step, and the restarts so far.
struct CMAESProgress {
    int generation = 0;  // generations completed since the last restart
    int popsize = 0;     // 0 before the search starts
    double sigma = 0;    // the step, in units of the parameters' ranges
    int restarts = 0;
};

// The joint space is the numeric parameters (floats and integers, on their log scale where they
// have one) that every finished trial holds with the same distribution, once n_startup_trials
// have finished; each is mapped onto [0, 1]. Each trial gets one candidate of the current
// generation; once popsize of them have finished (pruned ones by their last report ranked among
// the completed trials at that step, failed and NaN ones as the worst), the first popsize by
// trial_id update the distribution. A trial whose parameters differ from its candidate (an
// enqueued value) is told with the values it ran. Where the joint space is discrete, a candidate
// that repeats a tried configuration is drawn again, then replaced by an untried one. A study
// whose space changes restarts the search over the new one. Single objective only.
class CMAESSampler : public ISampler {
public:
    // Throws std::invalid_argument for a config that validate() rejects.
    explicit CMAESSampler(CMAESSamplerConfig config);
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;
    // Both passed on to the independent sampler.
    void before_study(const Study& study) override;
    void after_trial(const Study& study, const Trial& trial) override;
    bool proposes() const override { return true; }
    ParamMap propose(const History& history, const Trial& trial, SamplerState* state) override;
    // Throws std::invalid_argument for a study of several objectives.
    std::unique_ptr<SamplerState> make_state(const Study& study) override;
    // The independent sampler's; the search itself is the study's.
    std::string saved_state() const override;
    void restore_state(const std::string& text) override;

    // The search of study, which must have taken this sampler; read it between runs.
    CMAESProgress progress(const Study& study) const;

    const CMAESSamplerConfig config;

private:
    const std::shared_ptr<ISampler> independent;
};

}  // namespace tarvex
