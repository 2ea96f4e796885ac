// The median rule: stop a trial that is worse than most others were at the same step.
#pragma once

#include <cstdint>
#include <memory>

#include "tarvex/pruner.hpp"

namespace tarvex {

// MedianPruner's settings, with the defaults of its Python constructor. validate() refuses what
// the plain constructor accepts for its plain effects.
struct MedianPrunerOptions {
    int n_startup_trials = 5;  // no pruning until this many trials have completed
    int n_warmup_steps = 0;    // no pruning of a trial whose latest report is at an earlier step
    double percentile = 50.0;  // 0 to 100; 50 compares with the median
    // Throws std::invalid_argument naming the first field out of range.
    void validate() const;
};

// Prunes a trial whose latest value is worse than a percentile of the completed trials' values
// at the same step. Worse is smaller in a single-objective maximising study and larger otherwise
// (multi-objective reports are judged as they are). Every argument is accepted; odd ones have
// plain effects (a percentile outside 0..100 or NaN picks the smallest or largest value).
class MedianPruner : public IPruner {
public:
    MedianPruner(int n_startup_trials, int n_warmup_steps, double percentile);
    // Throws std::invalid_argument for options that validate() refuses.
    explicit MedianPruner(const MedianPrunerOptions& options);
    bool should_prune(const Study& study, const Trial& trial) override;
    std::unique_ptr<PrunerState> make_state(const Study& study) override;
    bool is_slow() const override { return true; }  // it reads what the storage stored since its last call

    const std::int32_t n_startup_trials;
    const std::int32_t n_warmup_steps;
    const double percentile;
};

}  // namespace tarvex
