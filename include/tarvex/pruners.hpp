// Pruners: early-stopping rules over intermediate values.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "tarvex/study.hpp"

namespace tarvex {

// Called without any study lock, possibly concurrently; implementations must tolerate that.
class IPruner {
public:
    virtual ~IPruner() = default;
    virtual bool should_prune(const Study& study, const Trial& trial) = 0;
};

namespace detail {
struct PrunerView;  // what a pruner has read of one study (pruner_view.hpp)

// The views of a pruner, one per study it has judged, under one lock. Finished trials never
// change, so a view reads only what was stored since its last call and keeps sorted values per
// step; a view goes with its study's storage.
class PrunerViews {
public:
    PrunerViews();
    ~PrunerViews();
    template <class Judge>
    bool with(const Study& study, const Judge& judge);

private:
    std::mutex mutex;
    std::unordered_map<std::int32_t, std::unique_ptr<PrunerView>> views;  // guarded by mutex
};
}  // namespace detail

// Prunes a trial whose latest value is worse than a percentile of the completed trials' values
// at the same step. Worse is smaller in a single-objective maximising study and larger otherwise
// (multi-objective reports are judged as they are). Every argument is accepted; odd ones have
// plain effects (a percentile outside 0..100 or NaN picks the smallest or largest value).
class MedianPruner : public IPruner {
public:
    MedianPruner(int n_startup_trials, int n_warmup_steps, double percentile);
    bool should_prune(const Study& study, const Trial& trial) override;

    const std::int32_t n_startup_trials;
    const std::int32_t n_warmup_steps;
    const double percentile;

private:
    detail::PrunerViews views;
};

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

    const std::int32_t min_resource;
    const std::int32_t max_resource;
    const double reduction_factor;
    const std::int32_t bootstrap_count;
    const std::vector<std::int32_t> rungs;

private:
    detail::PrunerViews views;
};

}  // namespace tarvex
