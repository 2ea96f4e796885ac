#include <algorithm>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "tarvex/storage.hpp"

namespace tarvex {

int InMemoryStorage::create_trial(int /*study_id*/) { return next_id.fetch_add(1); }

void InMemoryStorage::update_trial(const Trial& trial) {
    const std::scoped_lock lock(mutex);
    trials_by_id.insert_or_assign(trial.trial_id, trial);
}

void InMemoryStorage::update_trial(Trial&& trial) {
    // A subclass that stores its own way overrides the copying update; it is not bypassed.
    if (typeid(*this) != typeid(InMemoryStorage)) return update_trial(static_cast<const Trial&>(trial));
    const auto id = trial.trial_id;
    const std::scoped_lock lock(mutex);
    trials_by_id.insert_or_assign(id, std::move(trial));
}

Trial InMemoryStorage::get_trial(int trial_id) const {
    {
        const std::scoped_lock lock(mutex);
        if (const auto it = trials_by_id.find(trial_id); it != trials_by_id.end()) return it->second;
    }
    throw std::out_of_range("Trial " + std::to_string(trial_id) + " not found.");
}

std::vector<Trial> InMemoryStorage::get_all_trials(int study_id) const {
    std::vector<Trial> out;
    {
        const std::scoped_lock lock(mutex);
        out.reserve(trials_by_id.size());
        for (const auto& [id, trial] : trials_by_id) {
            if (trial.study_id == study_id) out.push_back(trial);
        }
    }
    // Sorting moves and swaps the copies only; identifiers are unique, so the order is total.
    std::sort(out.begin(), out.end(),
              [](const Trial& a, const Trial& b) { return a.trial_id < b.trial_id; });
    return out;
}

int InMemoryStorage::n_trials(int study_id) const {
    const std::scoped_lock lock(mutex);
    return static_cast<int>(std::count_if(trials_by_id.begin(), trials_by_id.end(),
                                          [&](const auto& kv) { return kv.second.study_id == study_id; }));
}

}  // namespace tarvex
