#include "tarvex/cmaes_sampler.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>

#include "cmaes_search.hpp"
#include "seen_configs.hpp"
#include "tarvex/distributions.hpp"
#include "tarvex/random.hpp"
#include "tarvex/random_sampler.hpp"
#include "trial_scores.hpp"

namespace tarvex {
namespace {

using detail::CmaEs;
using detail::CMAStudyState;
using detail::Coord;
using detail::finished_trials;
using detail::from_unit;
using detail::joint_space;
using detail::mirrored;
using detail::restart_search;
using detail::start_search;
using detail::to_unit;
using detail::unit_point;

constexpr double kWorst = std::numeric_limits<double>::infinity();

// Each finished candidate's value, oriented so that smaller is better: pruned trials by their
// last report ranked at its step, failed and NaN ones the worst.
double candidate_value(const Trial& t, const std::map<int, double>& pruned, bool maximize) {
    if (t.state == TrialState::Pruned) {
        const auto score = pruned.find(t.trial_id);
        return score == pruned.end() ? kWorst : score->second;
    }
    if (!detail::observed(t)) return kWorst;
    return maximize ? -t.values.front() : t.values.front();
}

// The point t ran at: its candidate, with each coordinate whose value the trial did not take from
// the candidate (an enqueued value) moved to the value it ran with.
Eigen::VectorXd ran_at(const std::vector<Coord>& space, Eigen::VectorXd x, const Trial& t) {
    for (std::size_t j = 0; j < space.size(); ++j) {
        const Coord& c = space[j];
        const auto v = t.params.find(c.name);
        if (v == t.params.end()) continue;
        const auto coord = detail::to_coord(c, v->second);
        if (!coord) continue;
        const int k = static_cast<int>(j);
        const bool same = c.discrete() ? detail::from_coord(c, from_unit(c, x[k])) == v->second
                                       : std::abs(to_unit(c, *coord) - x[k]) <= 1e-9;
        if (!same) x[k] = to_unit(c, *coord);
    }
    return x;
}

// CMA-ES learns from the order of the values only: candidates that violate their constraints are
// moved behind every feasible one, in order of violation, by values above the worst feasible one.
void rank_infeasible_last(std::vector<std::pair<Eigen::VectorXd, double>>& told, const std::vector<double>& violation) {
    double worst = 0;
    for (std::size_t k = 0; k < told.size(); ++k) {
        if (violation[k] == 0 && std::isfinite(told[k].second)) worst = std::max(worst, told[k].second);
    }
    for (std::size_t k = 0; k < told.size(); ++k) {
        if (violation[k] > 0) told[k].second = std::isfinite(violation[k]) ? worst + 1 + violation[k] : kWorst;
    }
}

// The surrogate's settings (lq-CMA-ES): a ranked generation first evaluates 2% of its candidates
// (at least one), adds half as many again as it has evaluated while the model's order disagrees
// with the values, and trusts the model once Kendall's tau between them reaches 0.85, measured
// over the 15 most recent rows, or more for a large generation.
constexpr double kFirstEvaluated = 0.02;
constexpr double kMoreEvaluated = 0.5;
constexpr double kTrustedAgreement = 0.85;

// Tells the surrogate of each member that has just finished with a value it can model: complete,
// finite and feasible.
void learn(CMAStudyState& s, const std::vector<std::pair<int, const Trial*>>& done, bool maximize) {
    for (const auto& [id, t] : done) {
        if (!s.modelled.insert(id).second) continue;
        if (const auto value = detail::model_value(*t, maximize))
            s.surrogate->add(ran_at(s.space, s.members.at(id), *t), *value);
    }
}

// Orders the candidates [first, last) by the surrogate's prediction, best first.
void rank_by_model(const detail::LqSurrogate& model, std::vector<Eigen::VectorXd>::iterator first,
                   std::vector<Eigen::VectorXd>::iterator last) {
    std::vector<std::pair<double, Eigen::VectorXd>> ranked;
    for (auto it = first; it != last; ++it) ranked.emplace_back(model.predict(*it), std::move(*it));
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [value, x] : ranked) *first++ = std::move(x);
}

// Whether the ranked generation can end by the model's order: every candidate evaluated so far
// has a value the model holds, and the refitted model agrees with the recent values. Otherwise
// more candidates are to be evaluated (all of them where a value is one the model cannot hold),
// and those left are ranked again.
bool model_agrees(CMAStudyState& s, const std::vector<std::pair<int, const Trial*>>& evaluated, int popsize) {
    const std::size_t n = evaluated.size(), all = static_cast<std::size_t>(popsize);
    const bool modelled = std::all_of(evaluated.begin(), evaluated.end(),
                                      [](const auto& d) { return detail::model_value(*d.second, false).has_value(); });
    if (!modelled || !s.surrogate->fit()) {
        s.evaluate = all;
        return false;
    }
    const auto recent = static_cast<std::size_t>(std::max(static_cast<double>(detail::LqSurrogate::kLeastRows),
                                                          std::min(1.2 * static_cast<double>(n), 0.75 * popsize)));
    if (s.surrogate->rank_agreement(recent) >= kTrustedAgreement) return true;
    s.evaluate =
        std::min(all, n + static_cast<std::size_t>(std::max(1.0, std::ceil(kMoreEvaluated * static_cast<double>(n)))));
    rank_by_model(*s.surrogate, s.pool.begin() + static_cast<std::ptrdiff_t>(s.next), s.pool.end());
    return false;
}

// Tells the search one generation's candidates and values, which cost it `spent` trials, and
// restarts it where it stalled.
void end_generation(const CMAESSamplerConfig& config, CMAStudyState& s,
                    std::vector<std::pair<Eigen::VectorXd, double>> told, long long spent) {
    s.es->tell(std::move(told));
    (s.small_regime ? s.small_trials : s.large_trials) += spent;
    s.clear_generation();
    ++s.progress.generation;
    if (s.es->stalled() && config.restart_strategy != CMARestart::None) {
        restart_search(config, s);
        s.progress.generation = 0;
    }
}

CMAESSamplerConfig validated(CMAESSamplerConfig config) {
    config.validate();
    return config;
}

}  // namespace

void CMAESSamplerConfig::validate() const {
    const auto require = [](bool ok, const char* field, const char* expected) {
        if (!ok) throw std::invalid_argument(std::string("CMAESSampler: ") + field + " must be " + expected + ".");
    };
    require(sigma0 > 0 && std::isfinite(sigma0), "sigma0", "a finite number above 0");
    require(n_startup_trials >= 0, "n_startup_trials", "at least 0");
    require(popsize == 0 || popsize >= 2, "popsize", "0 (the default) or at least 2");
    require(inc_popsize >= 1, "inc_popsize", "at least 1");
    require(tol_fun > 0 && tol_fun < 1, "tol_fun", "a number above 0 and below 1");
    // A start that is not a number would be dropped for the middle of the range without a word.
    for (const auto& [name, value] : x0) {
        if (const double* x = std::get_if<double>(&value); x && !std::isfinite(*x)) {
            throw std::invalid_argument("CMAESSampler: x0['" + name + "'] must be a finite number.");
        }
    }
}

CMAESSampler::CMAESSampler(CMAESSamplerConfig config_)
    : config(validated(std::move(config_))),
      independent(config.independent_sampler
                      ? config.independent_sampler
                      : std::make_shared<RandomSampler>(config.seed == 0 ? 0 : config.seed ^ 0x5851F42D4C957F2DULL)) {}

ParamValue CMAESSampler::sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                            const Distribution& dist) {
    if (auto only = only_value(dist)) return std::move(*only);
    return independent->sample_independent(study, trial, name, dist);
}

void CMAESSampler::before_study(const Study& study) { independent->before_study(study); }

void CMAESSampler::after_trial(const Study& study, const Trial& trial) { independent->after_trial(study, trial); }

std::unique_ptr<SamplerState> CMAESSampler::make_state(const Study& study) {
    if (study.directions.size() != 1) {
        throw std::invalid_argument("CMAESSampler: optimises a single objective; this study has " +
                                    std::to_string(study.directions.size()) + ".");
    }
    return std::make_unique<CMAStudyState>(config.seed);
}

CMAESProgress CMAESSampler::progress(const Study& study) const {
    const auto* s = dynamic_cast<const CMAStudyState*>(study.sampler_state(*this));
    if (!s) throw std::invalid_argument("CMAESSampler.progress: the study does not use this sampler.");
    CMAESProgress p = s->progress;
    if (s->es) {
        p.popsize = s->es->popsize();
        p.sigma = s->es->step_size();
    }
    return p;
}

ParamMap CMAESSampler::propose(const History& history, const Trial& trial, SamplerState* state) {
    auto* const s = dynamic_cast<CMAStudyState*>(state);
    if (!s) return {};
    if (!s->es) {
        if (s->empty_at > 0 && history.trials.size() < 2 * s->empty_at) return {};
        const std::vector<const Trial*> finished = finished_trials(history);
        if (finished.empty() || static_cast<int>(finished.size()) < config.n_startup_trials) return {};
        s->space = joint_space(finished);
        if (s->space.empty()) {
            s->empty_at = history.trials.size();
            return {};
        }
        start_search(config, *s, history);
    }

    // The generation's finished candidates; a space that changed under them starts a new search.
    std::vector<std::pair<int, const Trial*>> done;
    for (const auto& [id, x] : s->members) {
        const auto t = history.trials.find(id);
        if (t == history.trials.end() || t->second->state == TrialState::Running) continue;
        const Trial& ran = *t->second;
        const bool moved = std::any_of(s->space.begin(), s->space.end(), [&](const Coord& c) {
            const auto d = ran.distributions.find(c.name);
            return d != ran.distributions.end() && !(d->second == c.dist);
        });
        if (moved) {
            s->space = joint_space(finished_trials(history, id));
            s->es.reset();
            if (s->space.empty()) return {};
            start_search(config, *s, history);
            ++s->progress.restarts;
            done.clear();
            break;
        }
        done.emplace_back(id, &ran);
    }
    const int popsize = s->es->popsize();
    const bool maximize = history.directions.front() == StudyDirection::Maximize;
    if (s->surrogate) learn(*s, done, maximize);
    // A ranked generation ends by the truth once every candidate is evaluated, earlier by the
    // model's order once the model agrees with the values.
    std::vector<std::pair<int, const Trial*>> evaluated;
    for (const auto& d : done) {
        if (s->slots.contains(d.first)) evaluated.push_back(d);
    }
    bool by_model = false;
    if (!s->pool.empty() && static_cast<int>(evaluated.size()) < popsize && evaluated.size() >= s->evaluate &&
        s->next >= s->evaluate) {
        by_model = model_agrees(*s, evaluated, popsize);
    }
    if (by_model) {
        std::vector<std::pair<Eigen::VectorXd, double>> told;
        for (std::size_t k = 0; k < s->pool.size(); ++k)
            told.emplace_back(s->pool[k], s->surrogate->predict(s->pool[k]));
        for (const auto& [id, t] : evaluated) {
            told[s->slots.at(id)].first = ran_at(s->space, s->members.at(id), *t);
        }
        end_generation(config, *s, std::move(told), static_cast<long long>(evaluated.size()));
    } else if (static_cast<int>(done.size()) >= popsize) {
        const bool any_pruned =
            std::any_of(done.begin(), done.end(), [](const auto& d) { return d.second->state == TrialState::Pruned; });
        const std::map<int, double> pruned =
            any_pruned ? detail::pruned_scores(history.trials, maximize) : std::map<int, double>{};
        std::vector<std::pair<Eigen::VectorXd, double>> told;
        std::vector<double> violation;
        for (int k = 0; k < popsize; ++k) {
            const Trial& t = *done[static_cast<std::size_t>(k)].second;
            told.emplace_back(ran_at(s->space, s->members.at(t.trial_id), t), candidate_value(t, pruned, maximize));
            violation.push_back(t.state == TrialState::Complete ? detail::total_violation(t.constraints) : 0.0);
        }
        rank_infeasible_last(told, violation);
        end_generation(config, *s, std::move(told), popsize);
    }
    if (config.with_margin && !s->discrete.empty()) {
        const double alpha = 1.0 / (s->es->dimension() * s->es->popsize());
        s->es->apply_margin(
            s->discrete,
            [&](int j, double m) {
                const Coord& c = s->space[static_cast<std::size_t>(j)];
                const auto [lo, hi] = detail::value_edges(c, from_unit(c, m));
                return std::pair{lo ? std::optional(to_unit(c, *lo)) : std::nullopt,
                                 hi ? std::optional(to_unit(c, *hi)) : std::nullopt};
            },
            alpha);
    }

    // The candidate: inside the cube, and where the space is all discrete, new.
    const auto draw = [&] {
        Eigen::VectorXd x = s->es->sample(s->rng);
        for (int attempt = 0; attempt < 10 && config.bounds == CMABounds::Resample; ++attempt) {
            if ((x.array() >= 0).all() && (x.array() <= 1).all()) return x;
            x = s->es->sample(s->rng);
        }
        return Eigen::VectorXd(x.unaryExpr(&mirrored));
    };
    if (s->surrogate && s->members.empty() && s->surrogate->fit()) {
        // A new generation, drawn whole and ranked by the model: the most promising go first.
        // The search may have restarted above with another population.
        const int lambda = s->es->popsize();
        for (int k = 0; k < lambda; ++k) s->pool.push_back(draw());
        rank_by_model(*s->surrogate, s->pool.begin(), s->pool.end());
        s->evaluate = static_cast<std::size_t>(std::ceil(kFirstEvaluated * lambda));
    }
    const std::optional<std::size_t> slot = s->next < s->pool.size() ? std::optional(s->next++) : std::nullopt;
    Eigen::VectorXd x = slot ? s->pool[*slot] : draw();
    ParamMap proposal = s->decode(x);
    if (s->discrete.size() == s->space.size()) {
        std::vector<std::string> names;
        for (const Coord& c : s->space) names.push_back(c.name);
        const detail::SeenConfigs seen(names, history);
        for (int attempt = 0; attempt < 10 && seen.contains(proposal); ++attempt) {
            x = draw();
            proposal = s->decode(x);
        }
        if (seen.contains(proposal)) {
            SearchSpace space;
            for (const Coord& c : s->space) space.add(c.name, c.dist);
            proposal = detail::unseen_config(space, seen, std::move(proposal), s->rng);
            if (const auto u = unit_point(s->space, proposal)) x = *u;
        }
    }
    if (slot) {
        s->pool[*slot] = x;
        s->slots[trial.trial_id] = *slot;
    }
    s->members[trial.trial_id] = std::move(x);
    return proposal;
}

std::string CMAESSampler::saved_state() const { return independent->saved_state(); }

void CMAESSampler::restore_state(const std::string& text) { independent->restore_state(text); }

}  // namespace tarvex
