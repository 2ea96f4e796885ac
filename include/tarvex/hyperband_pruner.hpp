// Successive halving on a ladder of rungs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tarvex/pruner.hpp"

namespace tarvex {

// HyperbandPruner's settings, with the defaults of its Python constructor. validate() also
// refuses a ladder that the plain constructor accepts as one rung (min_resource > max_resource)
// and counts below 0.
struct HyperbandPrunerOptions {
    int min_resource = 1;           // the first rung, at least 1
    int max_resource = 81;          // the last rung, at least min_resource
    double reduction_factor = 3.0;  // growth between rungs and the inverse of the share kept; above 1
    int bootstrap_count = 0;        // no pruning at a rung until this many other trials reached it
    // Throws std::invalid_argument naming the first field out of range.
    void validate() const;
};

// Successive halving on one geometric ladder of rung steps: at a rung a trial survives if its
// value is within the best 1 / reduction_factor of the other trials' values at that step, better
// meaning what it means for MedianPruner.
class HyperbandPruner : public IPruner {
public:
    // Throws std::invalid_argument, naming the argument, for a ladder that would never end:
    // reduction_factor not a finite number above 1, or min_resource below 1.
    HyperbandPruner(int min_resource, int max_resource, double reduction_factor, int bootstrap_count);
    // Throws std::invalid_argument for options that validate() refuses.
    explicit HyperbandPruner(const HyperbandPrunerOptions& options);
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
