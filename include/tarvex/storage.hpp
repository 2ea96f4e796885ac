// Storage: where trials are kept and where trial identifiers come from.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "tarvex/study.hpp"

namespace tarvex {

// A stored trial, shared by the storage and its readers: stored trials never change in place.
using StoredTrial = std::shared_ptr<const Trial>;

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

    // A running trial's parameter, as it is suggested; a storage that records running trials
    // keeps it. By default nothing happens: the trial is stored whole when it ends.
    virtual void record_param(int trial_id, const std::string& name, const Distribution& dist, const ParamValue& value);
    // The trials of study_id stored since cursor (0 for all), oldest first; cursor moves past
    // them. A trial stored again comes again, in its newest version. Readers that keep what they
    // read fetch only what is new this way; by default every trial comes every time.
    virtual std::vector<StoredTrial> trials_since(int study_id, std::uint64_t& cursor) const;
};

class InMemoryStorage : public IStorage {
public:
    int create_trial(int study_id) override;
    void update_trial(const Trial& trial) override;
    void update_trial(Trial&& trial) override;
    Trial get_trial(int trial_id) const override;
    std::vector<Trial> get_all_trials(int study_id) const override;
    int n_trials(int study_id) const override;
    std::vector<StoredTrial> trials_since(int study_id, std::uint64_t& cursor) const override;

private:
    void store(StoredTrial trial);

    mutable std::mutex mutex;
    std::map<int, StoredTrial> trials_by_id;                     // guarded by mutex; ascending ids
    std::unordered_map<int, std::vector<StoredTrial>> history;  // guarded by mutex; per study, in store order
    std::atomic<std::int32_t> next_id{0};
};

// The trials of one study as its storage last reported them, fetched incrementally: what samplers
// and pruners read on every call without copying the study each time. Not thread-safe: its owner
// guards it.
class TrialCache {
public:
    // Fetches what was stored since the last refresh; returns those trials (new or replaced),
    // each with the version it replaces (null for a new one).
    struct Change {
        StoredTrial trial;
        StoredTrial replaced;
    };
    std::vector<Change> refresh(const Study& study);
    const std::map<int, StoredTrial>& trials() const { return by_id; }

private:
    std::uint64_t cursor = 0;
    std::map<int, StoredTrial> by_id;
};

}  // namespace tarvex
