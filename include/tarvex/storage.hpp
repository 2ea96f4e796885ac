// Storage: the store of finished trials and the source of trial identifiers.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "tarvex/study.hpp"

namespace tarvex {

class IStorage {
public:
    virtual ~IStorage() = default;
    // Allocates the next trial identifier; shared by every study using this storage.
    virtual int create_trial(int study_id) = 0;
    // Stores a copy under trial.trial_id, replacing any earlier copy.
    virtual void update_trial(const Trial& trial) = 0;
    // The same for a trial the caller is done with, which a storage may take over instead of
    // copying; by default it is copied.
    virtual void update_trial(Trial&& trial) { update_trial(static_cast<const Trial&>(trial)); }
    virtual Trial get_trial(int trial_id) const = 0;
    // Copies of one study's trials, ascending trial_id.
    virtual std::vector<Trial> get_all_trials(int study_id) const = 0;
    virtual int n_trials(int study_id) const = 0;
};

class InMemoryStorage : public IStorage {
public:
    int create_trial(int study_id) override;
    void update_trial(const Trial& trial) override;
    void update_trial(Trial&& trial) override;
    Trial get_trial(int trial_id) const override;
    std::vector<Trial> get_all_trials(int study_id) const override;
    int n_trials(int study_id) const override;

private:
    mutable std::mutex mutex;
    std::unordered_map<int, Trial> trials_by_id;  // guarded by mutex
    std::atomic<std::int32_t> next_id{0};
};

}  // namespace tarvex
