// The search a CMAESSampler runs in one study: what it keeps of the study, the joint space of
// the study's trials, and how a search starts and restarts.
#pragma once

#include <Eigen/Core>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include "cma_es.hpp"
#include "cma_surrogate.hpp"
#include "param_coordinates.hpp"
#include "tarvex/cmaes_sampler.hpp"
#include "tarvex/random.hpp"

namespace tarvex::detail {

inline double to_unit(const Coord& c, double x) { return (x - c.dim.low) / (c.dim.high - c.dim.low); }
inline double from_unit(const Coord& c, double u) { return c.dim.low + u * (c.dim.high - c.dim.low); }

// u brought into [0, 1] by reflecting it at the bound it crossed, as often as it takes.
inline double mirrored(double u) {
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
    // With the surrogate: the model, and a generation drawn whole and ranked by it. The pool's
    // candidates are proposed best first, from next on; evaluate is how many of them the
    // generation evaluates before the model's order is checked again.
    std::optional<LqSurrogate> surrogate;
    std::vector<Eigen::VectorXd> pool;
    std::map<int, std::size_t> slots;  // the pool's candidate each member ran, by trial_id
    std::size_t next = 0, evaluate = 0;
    std::set<int> modelled;    // the members the surrogate has been told of
    std::size_t empty_at = 0;  // the history's size when the joint space was last found empty
    CMAESProgress progress;
    // Restarts: the largest population so far, and the trials spent in each regime (BIPOP).
    int default_popsize = 0, large_popsize = 0;
    long long large_trials = 0, small_trials = 0;
    bool small_regime = false;

    // A new generation: no candidates drawn, none ranked.
    void clear_generation() {
        members.clear();
        pool.clear();
        slots.clear();
        modelled.clear();
        next = evaluate = 0;
    }

    ParamMap decode(const Eigen::VectorXd& x) const {
        ParamMap config;
        for (std::size_t j = 0; j < space.size(); ++j) {
            config.emplace(space[j].name, from_coord(space[j], from_unit(space[j], x[static_cast<int>(j)])));
        }
        return config;
    }
};

// t's value as the surrogate models it, smaller is better: none unless t completed with a finite
// value and within its constraints.
std::optional<double> model_value(const Trial& t, bool maximize);
// The numeric parameters, with more than one value, that every trial of finished holds with the
// same distribution.
std::vector<Coord> joint_space(const std::vector<const Trial*>& finished);
// The trials that ran to an end and hold parameters, those with id at least since.
std::vector<const Trial*> finished_trials(const History& history, int since = 0);
// A configuration's point in the unit cube; none unless it holds every coordinate's name with a
// value that coordinate can take.
std::optional<Eigen::VectorXd> unit_point(const std::vector<Coord>& space, const ParamMap& config);
// The search's first run over the state's space: warm started, else from x0 and the middle.
void start_search(const CMAESSamplerConfig& config, CMAStudyState& s, const History& history);
// A fresh search from a random point after a stall: a larger population (IPOP), or for BIPOP
// whichever regime has had fewer trials, a small population getting a random size between the
// default and half the largest so far and a step shorter by up to 100 times.
void restart_search(const CMAESSamplerConfig& config, CMAStudyState& s);

}  // namespace tarvex::detail
