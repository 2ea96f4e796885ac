// The configurations a study has already tried, so that a sampler proposes each one once.
#pragma once

#include <random>
#include <set>
#include <string>
#include <vector>

#include "tarvex/history.hpp"
#include "tarvex/search_space.hpp"

namespace tarvex::detail {

class SeenConfigs {
public:
    // Every trial of history (in any state) and every pending configuration that holds all of names.
    SeenConfigs(std::vector<std::string> names, const History& history);
    // Whether config, over names, is one of them.
    bool contains(const ParamMap& config) const;

private:
    bool key(const ParamMap& config, std::vector<ParamValue>& out) const;

    std::vector<std::string> names;
    std::set<std::vector<ParamValue>> seen;
};

// proposal if it is new; otherwise another configuration of space (its other names kept) that is:
// a uniform pick among the unseen ones of a space of at most a few thousand, or the first new
// one of a hundred uniform draws. Where every configuration has been tried, proposal.
ParamMap unseen_config(const SearchSpace& space, const SeenConfigs& seen, ParamMap proposal, std::mt19937_64& rng);

}  // namespace tarvex::detail
