#include "cmaes_search.hpp"

#include <algorithm>
#include <string>

#include "trial_scores.hpp"

namespace tarvex::detail {
namespace {

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
    return CmaEs::from_covariance(std::move(mean), cov, popsize, config.separable);
}

// A search started at the best of the history's completed trials with one finite value, where
// there are at least two, with half the usual step. Started instead from the spread of the best
// tenth, CMA-ES spent hundreds of trials without improving on the point another sampler had found.
std::optional<CmaEs> from_best(const CMAESSamplerConfig& config, const History& history,
                               const std::vector<Coord>& space, int popsize) {
    const bool maximize = history.directions.front() == StudyDirection::Maximize;
    std::optional<Eigen::VectorXd> best;  // of the trials that hold every coordinate of the space
    double best_value = 0;
    int done = 0;
    for (const auto& [id, t] : history.trials) {
        if (t->state != TrialState::Complete || !observed(*t)) continue;
        ++done;
        const double v = maximize ? -t->values.front() : t->values.front();
        if (best && v >= best_value) continue;
        if (auto x = unit_point(space, t->params)) best = std::move(x), best_value = v;
    }
    if (done < 2 || !best) return std::nullopt;
    return CmaEs(std::move(*best), 0.5 * config.sigma0, popsize, config.separable);
}

}  // namespace

std::optional<double> model_value(const Trial& t, bool maximize) {
    if (t.state != TrialState::Complete || !observed(t) || total_violation(t.constraints) > 0) return std::nullopt;
    return maximize ? -t.values.front() : t.values.front();
}

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
        auto c = coordinate(name, dist);
        if (c && !c->dim.categorical) space.push_back(std::move(*c));
    }
    return space;
}

std::vector<const Trial*> finished_trials(const History& history, int since) {
    std::vector<const Trial*> out;
    for (auto it = history.trials.lower_bound(since); it != history.trials.end(); ++it) {
        const Trial& t = *it->second;
        if (t.state != TrialState::Running && !t.params.empty()) out.push_back(&t);
    }
    return out;
}

std::optional<Eigen::VectorXd> unit_point(const std::vector<Coord>& space, const ParamMap& config) {
    Eigen::VectorXd x(static_cast<int>(space.size()));
    for (std::size_t j = 0; j < space.size(); ++j) {
        const auto v = config.find(space[j].name);
        if (v == config.end()) return std::nullopt;
        const auto c = to_coord(space[j], v->second);
        if (!c) return std::nullopt;
        x[static_cast<int>(j)] = to_unit(space[j], *c);
    }
    return x;
}

void start_search(const CMAESSamplerConfig& config, CMAStudyState& s, const History& history) {
    const int n = static_cast<int>(s.space.size());
    s.discrete.clear();
    for (int j = 0; j < n; ++j) {
        if (s.space[static_cast<std::size_t>(j)].discrete()) s.discrete.push_back(j);
    }
    s.clear_generation();
    s.es = warm_search(config, config.warm_start, s.space, config.popsize);
    if (!s.es && config.warm_start_from_history) s.es = from_best(config, history, s.space, config.popsize);
    if (!s.es) {
        Eigen::VectorXd mean = Eigen::VectorXd::Constant(n, 0.5);
        for (int j = 0; j < n; ++j) {
            const Coord& c = s.space[static_cast<std::size_t>(j)];
            const auto v = config.x0.find(c.name);
            if (v == config.x0.end()) continue;
            if (const auto u = to_coord(c, v->second)) mean[j] = to_unit(c, *u);
        }
        s.es.emplace(std::move(mean), config.sigma0, config.popsize, config.separable);
    }
    s.es->set_value_tolerance(config.tol_fun);
    if (config.surrogate) {
        // The model starts from what the study already holds, so that a search taking over from
        // another sampler ranks its first generations by that sampler's trials.
        s.surrogate.emplace(n, !config.separable && n <= 20);
        const bool maximize = history.directions.front() == StudyDirection::Maximize;
        for (const auto& [id, t] : history.trials) {
            const auto value = model_value(*t, maximize);
            if (!value) continue;
            if (auto x = unit_point(s.space, t->params)) s.surrogate->add(std::move(*x), *value);
        }
    }
    s.default_popsize = s.large_popsize = s.es->popsize();
    s.large_trials = s.small_trials = 0;
    s.small_regime = false;
}

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
    s.es->set_value_tolerance(config.tol_fun);
    s.clear_generation();
    ++s.progress.restarts;
}

}  // namespace tarvex::detail
