// Successive halving on a ladder of rungs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tarvex/pruner.hpp"

namespace tarvex {

// Successive halving on one geometric ladder of rung steps: at a rung a trial survives if its
// value is within the best 1 / reduction_factor of the other trials' values at that step, better
// meaning what it means for MedianPruner.
class HyperbandPruner : public IPruner {
public:
    // Throws std::invalid_argument, naming the argument, for a ladder that would never end:
    // reduction_factor not a finite number above 1, or min_resource below 1.
    HyperbandPruner(int min_resource, int max_resource, double reduction_factor, int bootstrap_count);
    // The first rung strictly above resource, or -1.
    int next_rung(int resource) const;
    bool should_prune(const Study& study, const Trial& trial) override;
    std::unique_ptr<PrunerState> make_state(const Study& study) override;
    bool is_slow() const override { return true; }  // it reads what the storage stored since its last call

    const std::int32_t min_resource;
    const std::int32_t max_resource;
    const double reduction_factor;
    const std::int32_t bootstrap_count;
    const std::vector<std::int32_t> rungs;
};

}  // namespace tarvex
