#include "tarvex/cmaes_sampler.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>

#include "cma_es.hpp"
#include "param_coordinates.hpp"
#include "seen_configs.hpp"
#include "tarvex/distributions.hpp"
#include "tarvex/random.hpp"
#include "tarvex/random_sampler.hpp"
#include "trial_scores.hpp"

namespace tarvex {
namespace {

using detail::CmaEs;
using detail::Coord;

constexpr double kWorst = std::numeric_limits<double>::infinity();

double to_unit(const Coord& c, double x) { return (x - c.dim.low) / (c.dim.high - c.dim.low); }
double from_unit(const Coord& c, double u) { return c.dim.low + u * (c.dim.high - c.dim.low); }

// u brought into [0, 1] by reflecting it at the bound it crossed, as often as it takes.
double mirrored(double u) {
    u = std::fmod(std::abs(u), 2.0);
    return u > 1 ? 2 - u : u;
}

// What a CMAESSampler keeps of one study: the joint space, the search over it, and the
// candidates of the current generation by trial.
struct CMAStudyState : SamplerState {
    explicit CMAStudyState(std::uint64_t seed) : rng(utils::make_generator(seed)) {}

    std::mt19937_64 rng;
    std::vector<Coord> space;   // by name
    std::vector<int> discrete;  // the discrete coordinates of space
    std::optional<CmaEs> es;
    std::map<int, Eigen::VectorXd> members;  // the current generation's candidates, by trial_id
    std::size_t empty_at = 0;                // the history's size when the joint space was last found empty
    CMAESProgress progress;
    // Restarts: the largest population so far, and the trials spent in each regime (BIPOP).
    int default_popsize = 0, large_popsize = 0;
    long long large_trials = 0, small_trials = 0;
    bool small_regime = false;

    ParamMap decode(const Eigen::VectorXd& x) const {
        ParamMap config;
        for (std::size_t j = 0; j < space.size(); ++j) {
            config.emplace(space[j].name, detail::from_coord(space[j], from_unit(space[j], x[static_cast<int>(j)])));
        }
        return config;
    }
};

// The numeric parameters, with more than one value, that every trial of finished holds with the
// same distribution.
std::vector<Coord> joint_space(const std::vector<const Trial*>& finished) {
    std::map<std::string, Distribution> common;
    bool first = true;
    for (const Trial* t : finished) {
        if (first) {
            common.insert(t->distributions.begin(), t->distributions.end());
            first = false;
            continue;
        }
        std::erase_if(common, [&](const auto& kv) {
            const auto d = t->distributions.find(kv.first);
            return d == t->distributions.end() || !(d->second == kv.second);
        });
    }
    std::vector<Coord> space;
    for (const auto& [name, dist] : common) {
        auto c = detail::coordinate(name, dist);
        if (c && !c->dim.categorical) space.push_back(std::move(*c));
    }
    return space;
}

// The trials that ran to an end and hold parameters, those with id at least since.
std::vector<const Trial*> finished_trials(const History& history, int since = 0) {
    std::vector<const Trial*> out;
    for (auto it = history.trials.lower_bound(since); it != history.trials.end(); ++it) {
        const Trial& t = *it->second;
        if (t.state != TrialState::Running && !t.params.empty()) out.push_back(&t);
    }
    return out;
}

// A configuration's point in the unit cube; none unless it holds every coordinate's name with a
// value that coordinate can take.
std::optional<Eigen::VectorXd> unit_point(const std::vector<Coord>& space, const ParamMap& config) {
    Eigen::VectorXd x(static_cast<int>(space.size()));
    for (std::size_t j = 0; j < space.size(); ++j) {
        const auto v = config.find(space[j].name);
        if (v == config.end()) return std::nullopt;
        const auto c = detail::to_coord(space[j], v->second);
        if (!c) return std::nullopt;
        x[static_cast<int>(j)] = to_unit(space[j], *c);
    }
    return x;
}

// A search started from the warm-start configurations: their mean, and their covariance
// Σ = cov + α² I (α = 0.1 of each range) split into σ = det(Σ)^(1/2n) and C = Σ / σ².
std::optional<CmaEs> warm_search(const CMAESSamplerConfig& config, const std::vector<ParamMap>& warm_start,
                                 const std::vector<Coord>& space, int popsize) {
    std::vector<Eigen::VectorXd> points;
    for (const ParamMap& good : warm_start) {
        if (auto x = unit_point(space, good)) points.push_back(std::move(*x));
    }
    if (points.empty()) return std::nullopt;
    const int n = static_cast<int>(space.size());
    Eigen::VectorXd mean = Eigen::VectorXd::Zero(n);
    for (const auto& x : points) mean += x;
    mean /= static_cast<double>(points.size());
    Eigen::MatrixXd cov = 0.01 * Eigen::MatrixXd::Identity(n, n);
    for (const auto& x : points) cov += (x - mean) * (x - mean).transpose() / static_cast<double>(points.size());
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(cov, Eigen::EigenvaluesOnly);
    const double sigma = std::exp(eigen.eigenvalues().array().log().sum() / (2.0 * n));
    return CmaEs(std::move(mean), sigma, popsize, config.separable, cov / (sigma * sigma));
}

// The best tenth of the history's completed trials with one finite value, best first.
std::vector<ParamMap> best_tenth(const History& history) {
    const bool maximize = history.directions.front() == StudyDirection::Maximize;
    std::vector<std::pair<double, const ParamMap*>> done;
    for (const auto& [id, t] : history.trials) {
        if (t->state == TrialState::Complete && detail::observed(*t)) {
            done.emplace_back(maximize ? -t->values.front() : t->values.front(), &t->params);
        }
    }
    std::stable_sort(done.begin(), done.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ParamMap> best;
    const auto n = static_cast<std::size_t>(std::ceil(0.1 * static_cast<double>(done.size())));
    for (std::size_t i = 0; i < n && done.size() >= 2; ++i) best.push_back(*done[i].second);
    return best;
}

// The search's first run over the state's space: warm started, else from x0 and the middle.
void start_search(const CMAESSamplerConfig& config, CMAStudyState& s, const History& history) {
    const int n = static_cast<int>(s.space.size());
    s.discrete.clear();
    for (int j = 0; j < n; ++j) {
        if (s.space[static_cast<std::size_t>(j)].discrete()) s.discrete.push_back(j);
    }
    s.members.clear();
    s.es = warm_search(config, config.warm_start, s.space, config.popsize);
    if (!s.es && config.warm_start_from_history)
        s.es = warm_search(config, best_tenth(history), s.space, config.popsize);
    if (!s.es) {
        Eigen::VectorXd mean = Eigen::VectorXd::Constant(n, 0.5);
        for (int j = 0; j < n; ++j) {
            const Coord& c = s.space[static_cast<std::size_t>(j)];
            const auto v = config.x0.find(c.name);
            if (v == config.x0.end()) continue;
            if (const auto u = detail::to_coord(c, v->second)) mean[j] = to_unit(c, *u);
        }
        s.es.emplace(std::move(mean), config.sigma0, config.popsize, config.separable);
    }
    s.default_popsize = s.large_popsize = s.es->popsize();
    s.large_trials = s.small_trials = 0;
    s.small_regime = false;
}

// A fresh search from a random point after a stall: a larger population (IPOP), or for BIPOP
// whichever regime has had fewer trials, a small population getting a random size between the
// default and half the largest so far and a step shorter by up to 100 times.
void restart_search(const CMAESSamplerConfig& config, CMAStudyState& s) {
    const int n = s.es->dimension();
    Eigen::VectorXd mean(n);
    for (int j = 0; j < n; ++j) mean[j] = utils::unit_draw(s.rng);
    double sigma = config.sigma0;
    int popsize = s.large_popsize;
    s.small_regime = config.restart_strategy == CMARestart::BIPOP && s.small_trials < s.large_trials;
    if (s.small_regime) {
        const double u = utils::unit_draw(s.rng);
        const double ratio = std::max(1.0, 0.5 * s.large_popsize / s.default_popsize);
        popsize = std::max(2, static_cast<int>(std::floor(s.default_popsize * std::pow(ratio, u * u))));
        sigma *= std::pow(10.0, -2 * u);
    } else {
        s.large_popsize *= config.inc_popsize;
        popsize = s.large_popsize;
    }
    s.es.emplace(std::move(mean), sigma, popsize, config.separable);
    s.members.clear();
    ++s.progress.restarts;
}

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
    if (static_cast<int>(done.size()) >= popsize) {
        const bool maximize = history.directions.front() == StudyDirection::Maximize;
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
        s->es->tell(std::move(told));
        (s->small_regime ? s->small_trials : s->large_trials) += popsize;
        s->members.clear();
        ++s->progress.generation;
        if (s->es->stalled() && config.restart_strategy != CMARestart::None) {
            restart_search(config, *s);
            s->progress.generation = 0;
        }
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
    Eigen::VectorXd x = draw();
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
    s->members[trial.trial_id] = std::move(x);
    return proposal;
}

std::string CMAESSampler::saved_state() const { return independent->saved_state(); }

void CMAESSampler::restore_state(const std::string& text) { independent->restore_state(text); }

}  // namespace tarvex
