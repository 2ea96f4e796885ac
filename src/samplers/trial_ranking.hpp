// The trials of a history in order of merit, for samplers that learn from good and bad trials.
#pragma once

#include <vector>

#include "tarvex/history.hpp"

namespace tarvex::detail {

// Best first: feasible completed trials by value (several objectives: by non-dominated front,
// then by trial_id), each pruned trial with completed peers at the rank of its score
// (pruned_scores); then completed trials that violate their constraints, by total violation;
// then pruned trials without peers, furthest step first, then by last report; then failed
// trials and completed ones with a non-finite value; then, with liar, the running trials of the
// history and the pending configurations. Trials without parameters, and skip_id, are left out.
struct RankedConfig {
    const ParamMap* params;
    int trial_id;  // -1 for a pending configuration
};
// any_pruned = false tells it that the history holds no pruned trial (saving a pass over it).
std::vector<RankedConfig> ranked_configurations(const History& history, bool liar, int skip_id, bool any_pruned = true);

// The non-dominated front of each row of values (0 the first), over the given directions.
std::vector<int> front_ranks(const std::vector<const std::vector<double>*>& values,
                             const std::vector<StudyDirection>& directions);

}  // namespace tarvex::detail
