#include <algorithm>
#include <stdexcept>
#include <string>

#include "../common/plain_text.hpp"
#include "tarvex/storage.hpp"

namespace tarvex {
namespace {

void require_plain_params(const ParamMap& params, const std::string& where) {
    for (const auto& [name, value] : params) {
        detail::require_plain_text(name, where + ": a parameter name");
        if (const auto* text = std::get_if<std::string>(&value)) {
            detail::require_plain_text(*text, where + ": the value of '" + detail::shown_text(name) + "'");
        }
    }
}

StoredTrial best_of(const Study& study) {
    if (study.directions.size() > 1) {
        throw std::runtime_error(
            "best_trial() is not defined for multi-objective studies. Use pareto_front() instead.");
    }
    // The storage keeps it as trials are stored: no pass over the study, no copy of it.
    StoredTrial best = study.storage->best_trial(study.study_id, study.directions.front());
    if (!best) {
        bool any_complete = false;
        study.storage->visit_trials(
            study.study_id, [&](const Trial& t) { any_complete = any_complete || t.state == TrialState::Complete; });
        if (any_complete) {
            throw std::runtime_error("No feasible trials found: every completed trial violates its constraints.");
        }
        throw std::runtime_error("No completed trials found.");
    }
    return best;
}

}  // namespace

Trial Study::best_trial() const {
    Trial best = *best_of(*this);
    best.study_id = study_id;  // a storage shared by processes numbers the study its own way
    return best;
}

double Study::best_value() const { return best_of(*this)->value(); }

ParamMap Study::best_params() const { return best_of(*this)->params; }

bool Study::dominates(const std::vector<double>& a, const std::vector<double>& b,
                      const std::vector<StudyDirection>& directions) {
    // Vectors of different lengths are compared over the indices all three have.
    const std::size_t n = std::min({a.size(), b.size(), directions.size()});
    bool better_somewhere = false;
    for (std::size_t i = 0; i < n; ++i) {
        const bool maximize = directions[i] == StudyDirection::Maximize;
        const double x = maximize ? -a[i] : a[i];
        const double y = maximize ? -b[i] : b[i];
        if (x > y) return false;
        if (y > x) better_somewhere = true;
    }
    return better_somewhere;
}

std::vector<Trial> Study::pareto_front() const {
    std::vector<Trial> all = trials();
    std::vector<const Trial*> complete;
    for (const Trial& t : all) {
        if (t.state == TrialState::Complete && t.feasible()) complete.push_back(&t);
    }
    std::vector<Trial> front;
    for (const Trial* t : complete) {
        const bool dominated = std::any_of(complete.begin(), complete.end(), [&](const Trial* u) {
            return u->trial_id != t->trial_id && dominates(u->values, t->values, directions);
        });
        if (!dominated) front.push_back(*t);
    }
    return front;
}

void Study::enqueue_trial(const ParamMap& params) {
    require_plain_params(params, "enqueue_trial");
    if (storage->enqueue(study_id, params)) return;
    const std::scoped_lock lock(queue_mutex);
    enqueued_params.push_back(params);
}

void Study::add_trial(const ParamMap& params, const std::vector<double>& values) {
    std::vector<std::string> order;
    order.reserve(params.size());
    for (const auto& [name, value] : params) order.push_back(name);
    add_trial(params, values, std::move(order));
}

void Study::add_trial(const ParamMap& params, const std::vector<double>& values, std::vector<std::string> order) {
    const auto got = static_cast<std::int32_t>(values.size());
    const auto want = static_cast<std::int32_t>(directions.size());
    if (got != want) {
        throw std::invalid_argument("add_trial: got " + std::to_string(got) + " values but study has " +
                                    std::to_string(want) + " directions.");
    }
    require_plain_params(params, "add_trial");
    Trial trial(storage->create_trial(study_id), study_id);
    trial.params = params;
    trial.param_order = std::move(order);
    trial.values = values;
    trial.state = TrialState::Complete;
    trial.datetime_complete = std::chrono::system_clock::now();
    storage->update_trial(trial);
}

int Study::copy_trial(const Trial& trial) {
    if (trial.state == TrialState::Complete && trial.values.size() != directions.size()) {
        throw std::invalid_argument("copy_trial: trial " + std::to_string(trial.trial_id) + " has " +
                                    std::to_string(trial.values.size()) + " values but the study has " +
                                    std::to_string(directions.size()) + " directions.");
    }
    Trial copy = trial;
    copy.trial_id = storage->create_trial(study_id);
    copy.study_id = study_id;
    copy.suggest_hook = nullptr;  // the copy belongs to no run
    copy.prune_hook = nullptr;
    copy.progress_hook = nullptr;
    storage->update_trial(copy);
    return copy.trial_id;
}

}  // namespace tarvex
