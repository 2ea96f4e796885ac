#include <utility>

#include "tarvex/trial_cache.hpp"

namespace tarvex {

std::vector<TrialCache::Change> TrialCache::refresh(const Study& study) {
    std::vector<Change> changes;
    for (StoredTrial& trial : study.storage->trials_since(study.study_id, cursor)) {
        auto [slot, added] = by_id.try_emplace(trial->trial_id, trial);
        StoredTrial replaced;
        if (!added) replaced = std::exchange(slot->second, trial);
        if (trial->state == TrialState::Running) {
            running_ids.insert(trial->trial_id);
        } else {
            running_ids.erase(trial->trial_id);
        }
        changes.push_back({std::move(trial), std::move(replaced)});
    }
    return changes;
}

}  // namespace tarvex
