#include <algorithm>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "tarvex/storage.hpp"

namespace tarvex {

void IStorage::record_param(int, const std::string&, const Distribution&, const ParamValue&) {}

std::vector<StoredTrial> IStorage::trials_since(int study_id, std::uint64_t& cursor) const {
    std::vector<StoredTrial> out;
    for (Trial& t : get_all_trials(study_id)) out.push_back(std::make_shared<const Trial>(std::move(t)));
    cursor = 1;
    return out;
}

int InMemoryStorage::create_trial(int /*study_id*/) { return next_id.fetch_add(1); }

void InMemoryStorage::store(StoredTrial trial) {
    const std::scoped_lock lock(mutex);
    history[trial->study_id].push_back(trial);
    trials_by_id.insert_or_assign(trial->trial_id, std::move(trial));
}

void InMemoryStorage::update_trial(const Trial& trial) { store(std::make_shared<const Trial>(trial)); }

void InMemoryStorage::update_trial(Trial&& trial) {
    // A subclass that stores its own way overrides the copying update; it is not bypassed.
    if (typeid(*this) != typeid(InMemoryStorage)) return update_trial(static_cast<const Trial&>(trial));
    store(std::make_shared<const Trial>(std::move(trial)));
}

Trial InMemoryStorage::get_trial(int trial_id) const {
    {
        const std::scoped_lock lock(mutex);
        if (const auto it = trials_by_id.find(trial_id); it != trials_by_id.end()) return *it->second;
    }
    throw std::out_of_range("Trial " + std::to_string(trial_id) + " not found.");
}

std::vector<Trial> InMemoryStorage::get_all_trials(int study_id) const {
    std::vector<Trial> out;
    const std::scoped_lock lock(mutex);
    out.reserve(trials_by_id.size());
    for (const auto& [id, trial] : trials_by_id) {  // ascending ids
        if (trial->study_id == study_id) out.push_back(*trial);
    }
    return out;
}

int InMemoryStorage::n_trials(int study_id) const {
    const std::scoped_lock lock(mutex);
    return static_cast<int>(std::count_if(trials_by_id.begin(), trials_by_id.end(),
                                          [&](const auto& kv) { return kv.second->study_id == study_id; }));
}

std::vector<StoredTrial> InMemoryStorage::trials_since(int study_id, std::uint64_t& cursor) const {
    const std::scoped_lock lock(mutex);
    const auto it = history.find(study_id);
    if (it == history.end() || cursor >= it->second.size()) return {};
    std::vector<StoredTrial> out(it->second.begin() + static_cast<std::ptrdiff_t>(cursor), it->second.end());
    cursor = it->second.size();
    return out;
}

std::vector<TrialCache::Change> TrialCache::refresh(const Study& study) {
    std::vector<Change> changes;
    for (StoredTrial& trial : study.storage->trials_since(study.study_id, cursor)) {
        auto [slot, added] = by_id.try_emplace(trial->trial_id, trial);
        StoredTrial replaced;
        if (!added) replaced = std::exchange(slot->second, trial);
        changes.push_back({std::move(trial), std::move(replaced)});
    }
    return changes;
}

}  // namespace tarvex
