// The median rule: stop a trial that is worse than most others were at the same step.
#pragma once

#include <cstdint>
#include <memory>

#include "tarvex/pruner.hpp"

namespace tarvex {

// Prunes a trial whose latest value is worse than a percentile of the completed trials' values
// at the same step. Worse is smaller in a single-objective maximising study and larger otherwise
// (multi-objective reports are judged as they are). Every argument is accepted; odd ones have
// plain effects (a percentile outside 0..100 or NaN picks the smallest or largest value).
class MedianPruner : public IPruner {
public:
    MedianPruner(int n_startup_trials, int n_warmup_steps, double percentile);
    bool should_prune(const Study& study, const Trial& trial) override;
    std::unique_ptr<PrunerState> make_state(const Study& study) override;
    bool is_slow() const override { return true; }  // it reads what the storage stored since its last call

    const std::int32_t n_startup_trials;
    const std::int32_t n_warmup_steps;
    const double percentile;
};

}  // namespace tarvex
