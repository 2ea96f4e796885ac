#include "study_storage.hpp"

#include "sql_connection.hpp"

namespace tarvex {

template <class F>
auto DatabaseStudyStorage::explained(F&& f) const {
    try {
        return f();
    } catch (const detail::SqlError& e) {
        if (e.kind == detail::SqlError::Kind::Refused && !db->has_study(study.id)) {
            throw std::runtime_error(db->url() + ": the study '" + study.name +
                                     "' was deleted while this process was working on it");
        }
        throw;
    }
}

int DatabaseStudyStorage::create_trial(int /*study_id*/) {
    return explained([&] { return db->start_trial(study.id); });
}

void DatabaseStudyStorage::update_trial(const Trial& trial) {
    explained([&] { db->finish_trial(study.id, trial); });
}

void DatabaseStudyStorage::store_finished(Trial& trial) {
    for (auto& [key, value] : explained([&] { return db->finish_trial(study.id, trial); })) {
        trial.system_attrs.insert_or_assign(key, std::move(value));
    }
}

Trial DatabaseStudyStorage::get_trial(int trial_id) const { return db->load_trial(study.id, trial_id); }

std::vector<Trial> DatabaseStudyStorage::get_all_trials(int /*study_id*/) const {
    const std::scoped_lock lock(mutex);
    refresh();
    std::vector<Trial> out;
    out.reserve(cache.size());
    for (const auto& [id, trial] : cache) out.push_back(*trial);
    return out;
}

int DatabaseStudyStorage::n_trials(int /*study_id*/) const {
    const std::scoped_lock lock(mutex);
    refresh();
    return static_cast<int>(cache.size());
}

void DatabaseStudyStorage::record_param(int trial_id, const std::string& name, const Distribution& dist,
                                        const ParamValue& value) {
    explained([&] { db->record_param(study.id, trial_id, name, dist, value); });
}

void DatabaseStudyStorage::record_report(int trial_id, std::size_t index, std::int32_t step, double value) {
    explained([&] { db->record_report(study.id, trial_id, index, step, value); });
}

void DatabaseStudyStorage::record_user_attr(int trial_id, const std::string& key, const std::string& value) {
    explained([&] { db->record_user_attr(study.id, trial_id, key, value); });
}

std::vector<StoredTrial> DatabaseStudyStorage::trials_since(int /*study_id*/, std::uint64_t& from) const {
    return db->changed_trials(study.id, from);
}

void DatabaseStudyStorage::visit_trials(int /*study_id*/, const std::function<void(const Trial&)>& visit) const {
    const std::scoped_lock lock(mutex);
    refresh();
    for (const auto& [id, trial] : cache) visit(*trial);
}

StoredTrial DatabaseStudyStorage::best_trial(int /*study_id*/, StudyDirection direction) const {
    const std::scoped_lock lock(mutex);
    refresh();
    if (best.needs_rebuild()) {
        best.reset();
        for (const auto& [id, trial] : cache) best.add(id, trial->state, trial->values, trial->feasible());
    }
    const auto id = best.best(direction);
    return id ? cache.at(*id) : nullptr;
}

bool DatabaseStudyStorage::enqueue(int /*study_id*/, const ParamMap& params) {
    explained([&] { db->enqueue(study.id, params); });
    return true;
}

std::optional<ParamMap> DatabaseStudyStorage::take_enqueued(int /*study_id*/, int trial_id) {
    return db->take_enqueued(study.id, trial_id);
}

void DatabaseStudyStorage::refresh() const {
    for (StoredTrial& t : db->changed_trials(study.id, cursor)) {
        auto [slot, added] = cache.try_emplace(t->trial_id, t);
        if (!added) {
            best.forget(slot->second->trial_id, slot->second->state, slot->second->values, slot->second->feasible());
            slot->second = t;
        }
        best.add(t->trial_id, t->state, t->values, t->feasible());
    }
}

std::shared_ptr<IStorage> DatabaseStorage::study_storage(const StudyRecord& study) {
    return std::make_shared<DatabaseStudyStorage>(shared_from_this(), study);
}

}  // namespace tarvex
