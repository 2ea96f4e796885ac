// Storage: where trials are kept and where trial identifiers come from.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
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

    // Whether the storage records running trials as they go (their parameters, reports and user
    // attributes), so that other processes and a crash see them. By default it does not: a
    // trial is stored whole when it ends, and the record_ calls below do nothing.
    virtual bool keeps_running_trials() const { return false; }
    // Whether a call may take long enough (a database round trip) that a caller should let other
    // threads run meanwhile.
    virtual bool is_slow() const { return false; }
    // A running trial's parameter, as it is suggested.
    virtual void record_param(int trial_id, const std::string& name, const Distribution& dist, const ParamValue& value);
    // A running trial's report, the index-th of the trial, and a user attribute, as they are made.
    virtual void record_report(int trial_id, std::size_t index, std::int32_t step, double value);
    virtual void record_user_attr(int trial_id, const std::string& key, const std::string& value);
    // Stores a finished trial like update_trial, and adds to trial.system_attrs what the storage
    // noted while storing it (see DatabaseStorage: a trial presumed lost).
    virtual void store_finished(Trial& trial) { update_trial(static_cast<const Trial&>(trial)); }

    // The trials of study_id stored since cursor (0 for all), oldest first; cursor moves past
    // them. A trial stored again comes again, in its newest version. Readers that keep what they
    // read fetch only what is new this way; by default every trial comes every time.
    virtual std::vector<StoredTrial> trials_since(int study_id, std::uint64_t& cursor) const;
    // Calls visit with each of the study's trials, ascending trial_id, one at a time and without
    // keeping them: how a caller reads a large study whole. visit must not call the storage. By
    // default over get_all_trials.
    virtual void visit_trials(int study_id, const std::function<void(const Trial&)>& visit) const;
    // The trial Study::best_trial reports for a study of that one direction, null when no trial
    // is Complete. Throws std::runtime_error as Trial::value does when two or more trials are
    // Complete and one of them does not hold exactly one value. By default a pass over
    // get_all_trials; the library's storages keep it as trials are stored.
    virtual StoredTrial best_trial(int study_id, StudyDirection direction) const;

    // Keeps params for the next trial of study_id that any process starts, and returns true; a
    // storage that keeps no such queue returns false (the default), and the study keeps it.
    virtual bool enqueue(int study_id, const ParamMap& params);
    // The parameters enqueued here that the new trial trial_id took when it was created.
    virtual std::optional<ParamMap> take_enqueued(int study_id, int trial_id);
};

class InMemoryStorage : public IStorage {
public:
    InMemoryStorage();
    InMemoryStorage(const InMemoryStorage&) = delete;
    InMemoryStorage& operator=(const InMemoryStorage&) = delete;
    ~InMemoryStorage() override;

    int create_trial(int study_id) override;
    void update_trial(const Trial& trial) override;
    void update_trial(Trial&& trial) override;
    Trial get_trial(int trial_id) const override;
    std::vector<Trial> get_all_trials(int study_id) const override;
    int n_trials(int study_id) const override;
    std::vector<StoredTrial> trials_since(int study_id, std::uint64_t& cursor) const override;
    void visit_trials(int study_id, const std::function<void(const Trial&)>& visit) const override;
    StoredTrial best_trial(int study_id, StudyDirection direction) const override;

private:
    // Trials are kept in a compact form (parameter names, distributions and choices written
    // once per storage) and rebuilt as Trial copies when read.
    struct State;
    mutable std::mutex mutex;
    const std::unique_ptr<State> state;  // guarded by mutex
    std::atomic<std::int32_t> next_id{0};
};

}  // namespace tarvex
