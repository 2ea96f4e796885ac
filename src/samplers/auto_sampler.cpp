#include "tarvex/auto_sampler.hpp"

#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "tarvex/saved_state.hpp"

namespace tarvex {
namespace {

enum class Choice { GP, TPE, CMAES, NSGA2 };

const char* name_of(Choice c) {
    switch (c) {
        case Choice::GP:
            return "GPSampler";
        case Choice::CMAES:
            return "CMAESSampler";
        case Choice::NSGA2:
            return "NSGA2Sampler";
        case Choice::TPE:
            break;
    }
    return "TPESampler";
}

// What an AutoSampler keeps of one study: each sampler's own state, the shape of the space the
// finished trials show, and the choice made for each running trial.
struct AutoState : SamplerState {
    std::unique_ptr<SamplerState> gp, tpe, cmaes, nsga2;  // cmaes: one objective; nsga2: several
    bool single_objective = true;
    // The space as the finished trials show it; guarded by the study's sampling lock.
    std::unordered_set<int> checked;             // the finished trials read
    std::optional<std::set<std::string>> names;  // the first one's parameters
    bool conditional = false, numeric = true;
    bool handed_over = false;                 // past the GP, the search that took over stays with it
    mutable std::mutex mutex;                 // guards choices, which annotate reads unlocked
    std::unordered_map<int, Choice> choices;  // by trial_id, until the trial is annotated

    void take_in(const History& history) {
        for (const auto& [id, t] : history.trials) {
            if (t->state == TrialState::Running || t->params.empty() || !checked.insert(id).second) continue;
            std::set<std::string> used;
            for (const auto& [name, dist] : t->distributions) {
                used.insert(name);
                const auto* c = std::get_if<CategoricalDist>(&dist);
                if (c && c->choices.size() > 1) numeric = false;
            }
            if (!names) {
                names = std::move(used);
            } else if (used != *names) {
                conditional = true;
            }
        }
    }

    std::optional<Choice> choice_of(int trial_id) const {
        const std::scoped_lock lock(mutex);
        const auto c = choices.find(trial_id);
        return c == choices.end() ? std::nullopt : std::optional(c->second);
    }
};

std::uint64_t derived(std::uint64_t seed, std::uint64_t k) { return seed == 0 ? 0 : seed + 0x9E3779B97F4A7C15ULL * k; }

AutoSamplerConfig validated(AutoSamplerConfig config) {
    config.validate();
    return config;
}

std::shared_ptr<GPSampler> make_gp(std::uint64_t seed) {
    GPSamplerConfig c;
    c.seed = seed;
    c.warp_values = true;  // the better settings on the bbob suite
    c.trust_region = true;
    c.principal_axes = true;
    c.quadratic_mean = true;
    c.multi_objective = true;
    return std::make_shared<GPSampler>(c);
}

std::shared_ptr<TPESampler> make_tpe(std::uint64_t seed) {
    TPESamplerConfig c;
    c.seed = seed;
    return std::make_shared<TPESampler>(c);
}

std::shared_ptr<CMAESSampler> make_cmaes(std::uint64_t seed) {
    CMAESSamplerConfig c;
    c.seed = seed;
    c.n_startup_trials = 0;
    c.warm_start_from_history = true;
    c.surrogate = true;  // its model starts from the GP's trials
    // Started at the GP's best trial, the search refines the basin the GP found. Refined to the
    // last digits, it held a multi-modal study there for all of a 1,000-trial budget; a looser
    // tolerance restarts it elsewhere, with a larger population, once the basin is exhausted.
    c.tol_fun = 1e-5;
    return std::make_shared<CMAESSampler>(c);
}

std::shared_ptr<NSGA2Sampler> make_nsga2(std::uint64_t seed) {
    NSGA2SamplerConfig c;
    c.seed = seed;
    return std::make_shared<NSGA2Sampler>(c);
}

}  // namespace

void AutoSamplerConfig::validate() const {
    if (max_gp_trials < 0) throw std::invalid_argument("AutoSampler: max_gp_trials must be at least 0.");
    if (max_gp_trials_multi_objective < 0) {
        throw std::invalid_argument("AutoSampler: max_gp_trials_multi_objective must be at least 0.");
    }
}

AutoSampler::AutoSampler(AutoSamplerConfig config_)
    : config(validated(config_)),
      gp(make_gp(derived(config.seed, 1))),
      tpe(make_tpe(derived(config.seed, 2))),
      cmaes(make_cmaes(derived(config.seed, 3))),
      nsga2(make_nsga2(derived(config.seed, 4))) {}

std::unique_ptr<SamplerState> AutoSampler::make_state(const Study& study) {
    auto s = std::make_unique<AutoState>();
    s->single_objective = study.directions.size() == 1;
    s->tpe = tpe->make_state(study);
    s->gp = gp->make_state(study);
    if (s->single_objective) {
        s->cmaes = cmaes->make_state(study);
    } else {
        s->nsga2 = nsga2->make_state(study);
    }
    return s;
}

ISampler& AutoSampler::successor(const Study& study) const {
    return study.directions.size() == 1 ? static_cast<ISampler&>(*cmaes) : *nsga2;
}

void AutoSampler::before_study(const Study& study) {
    tpe->before_study(study);
    gp->before_study(study);
    successor(study).before_study(study);
}

void AutoSampler::after_trial(const Study& study, const Trial& trial) {
    tpe->after_trial(study, trial);
    gp->after_trial(study, trial);
    successor(study).after_trial(study, trial);
}

ParamMap AutoSampler::propose(const History& history, const Trial& trial, SamplerState* state) {
    auto* const s = dynamic_cast<AutoState*>(state);
    if (!s) return tpe->propose(history, trial, nullptr);
    s->take_in(history);
    Choice choice = Choice::TPE;
    if (!s->conditional) {
        const int max_gp = s->single_objective ? config.max_gp_trials : config.max_gp_trials_multi_objective;
        if (!s->handed_over && static_cast<int>(s->checked.size()) < max_gp) {
            choice = Choice::GP;
        } else if (!s->single_objective) {
            choice = Choice::NSGA2;
        } else if (s->numeric) {
            choice = Choice::CMAES;
        }
    }
    s->handed_over = choice == Choice::CMAES || choice == Choice::NSGA2;
    {
        const std::scoped_lock lock(s->mutex);
        s->choices[trial.trial_id] = choice;
    }
    switch (choice) {
        case Choice::GP:
            return gp->propose(history, trial, s->gp.get());
        case Choice::CMAES:
            return cmaes->propose(history, trial, s->cmaes.get());
        case Choice::NSGA2:
            return nsga2->propose(history, trial, s->nsga2.get());
        case Choice::TPE:
            break;
    }
    return tpe->propose(history, trial, s->tpe.get());
}

ParamValue AutoSampler::sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                           const Distribution& dist) {
    const auto* const s = dynamic_cast<const AutoState*>(study.sampler_state(*this));
    switch (s ? s->choice_of(trial.trial_id).value_or(Choice::TPE) : Choice::TPE) {
        case Choice::GP:
            return gp->sample_independent(study, trial, name, dist);
        case Choice::CMAES:
            return cmaes->sample_independent(study, trial, name, dist);
        case Choice::NSGA2:
            return nsga2->sample_independent(study, trial, name, dist);
        case Choice::TPE:
            break;
    }
    return tpe->sample_independent(study, trial, name, dist);
}

void AutoSampler::annotate(Trial& trial, SamplerState* state) {
    auto* const s = dynamic_cast<AutoState*>(state);
    if (!s) return;
    const std::scoped_lock lock(s->mutex);
    const auto c = s->choices.find(trial.trial_id);
    if (c == s->choices.end()) return;
    trial.system_attrs.insert_or_assign("auto_sampler", name_of(c->second));
    s->choices.erase(c);
}

std::string AutoSampler::saved_state() const {
    return utils::StateWriter()
        .add(gp->saved_state())
        .add(tpe->saved_state())
        .add(cmaes->saved_state())
        .add(nsga2->saved_state())
        .text();
}

void AutoSampler::restore_state(const std::string& text) {
    utils::StateReader reader(text);
    const std::string of_gp = reader.piece();
    const std::string of_tpe = reader.piece();
    const std::string of_cmaes = reader.piece();
    const std::string of_nsga2 = reader.piece();
    reader.finish();
    gp->restore_state(of_gp);
    tpe->restore_state(of_tpe);
    cmaes->restore_state(of_cmaes);
    nsga2->restore_state(of_nsga2);
}

}  // namespace tarvex
