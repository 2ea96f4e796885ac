// The IStorage of one study kept in a DatabaseStorage, as a Study sees it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "best_tracker.hpp"
#include "tarvex/database_storage.hpp"

namespace tarvex {

// Scoped to its study: the identifiers of the Study using it, which IStorage's calls carry, are
// not needed, and the trials it reads carry the database's identifier of the study (Study's own
// results carry the Study's). Reads keep what they fetched, so each read fetches only what
// changed, and the best trial is kept as trials arrive.
class DatabaseStudyStorage : public IStorage {
public:
    DatabaseStudyStorage(std::shared_ptr<DatabaseStorage> db, StudyRecord study)
        : db(std::move(db)), study(std::move(study)) {}

    int create_trial(int study_id) override;
    void update_trial(const Trial& trial) override;
    void store_finished(Trial& trial) override;
    Trial get_trial(int trial_id) const override;
    std::vector<Trial> get_all_trials(int study_id) const override;
    int n_trials(int study_id) const override;
    bool keeps_running_trials() const override { return true; }
    bool is_slow() const override { return true; }
    void record_param(int trial_id, const std::string& name, const Distribution& dist,
                      const ParamValue& value) override;
    void record_report(int trial_id, std::size_t index, std::int32_t step, double value) override;
    void record_user_attr(int trial_id, const std::string& key, const std::string& value) override;
    std::vector<StoredTrial> trials_since(int study_id, std::uint64_t& cursor) const override;
    void visit_trials(int study_id, const std::function<void(const Trial&)>& visit) const override;
    StoredTrial best_trial(int study_id, StudyDirection direction) const override;
    bool enqueue(int study_id, const ParamMap& params) override;
    std::optional<ParamMap> take_enqueued(int study_id, int trial_id) override;

private:
    void refresh() const;  // with mutex held
    // f(), its failures explained when the study has been deleted under this process.
    template <class F>
    auto explained(F&& f) const;

    const std::shared_ptr<DatabaseStorage> db;
    const StudyRecord study;
    mutable std::mutex mutex;
    mutable std::uint64_t cursor = 0;          // guarded by mutex
    mutable std::map<int, StoredTrial> cache;  // guarded by mutex; ascending ids
    mutable detail::BestTracker best;          // guarded by mutex; of the trials in cache
};

}  // namespace tarvex
