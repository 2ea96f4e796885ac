// The sampler interface: where a trial's parameter values come from.
#pragma once

#include <memory>
#include <string>

#include "tarvex/history.hpp"
#include "tarvex/study.hpp"

namespace tarvex {

// What a sampler keeps of one study between its calls; made by the sampler, owned by the study.
class SamplerState {
public:
    virtual ~SamplerState() = default;
};

// A sampler answers in two stages. When a trial first needs a value the study does not fix,
// propose may return a whole configuration from the study's history; the study keeps it for
// the trial and serves its values to the suggest calls that ask for those names with a
// distribution that can produce them. Every other name goes to sample_independent.
class ISampler {
public:
    virtual ~ISampler() = default;
    // Once per optimisation run, before its first trial is created.
    virtual void before_study(const Study& study);
    // Only for a name the trial holds neither in params nor in fixed_params.
    virtual ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                          const Distribution& dist) = 0;
    // Once per finished run trial, before it is written to storage.
    virtual void after_trial(const Study& study, const Trial& trial);
    // What the sampler notes on a finished trial before it is stored, in its system attributes
    // (how it was sampled); by default nothing. state as for propose; called without the
    // study's sampling lock.
    virtual void annotate(Trial& trial, SamplerState* state);

    // Whether propose is worth calling: a sampler that answers only name by name says false (the
    // default), and the study reads no history for it.
    virtual bool proposes() const { return false; }
    // The configuration for trial, or an empty map for none. Called at most once per trial, with
    // the study's sampling lock held; state is what make_state gave this study (possibly null).
    virtual ParamMap propose(const History& history, const Trial& trial, SamplerState* state);
    // Made once, when a study takes this sampler; dies with the study. By default nothing.
    virtual std::unique_ptr<SamplerState> make_state(const Study& study);
    // Whether a call may take long enough (a model fit) that a caller should let other threads
    // run meanwhile.
    virtual bool is_slow() const { return false; }
    // Whether the sampler has nothing new to propose to the study whose state this is (a grid
    // whose every point has been taken): a run then starts no more trials. Read without the
    // study's sampling lock, so a state it depends on must be safe to read from any thread.
    virtual bool exhausted(const SamplerState* state) const;
    // Whether a run's trial should get its proposal as it is created, in one step with the check
    // of exhausted, rather than at its first suggest call.
    virtual bool proposes_at_start() const { return false; }
    // What the sampler itself carries from call to call (its generators, say), as text that
    // restore_state takes back, so that a copy goes on exactly as this sampler would. What a
    // study keeps for it (make_state) is the study's and not part of it. Empty by default.
    virtual std::string saved_state() const;
    // Throws std::invalid_argument for text that saved_state of this kind of sampler did not
    // make; the sampler is then unchanged.
    virtual void restore_state(const std::string& text);
};

}  // namespace tarvex
