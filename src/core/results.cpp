#include <algorithm>
#include <stdexcept>
#include <string>

#include "tarvex/storage.hpp"

namespace tarvex {

Trial Study::best_trial() const {
    if (directions.size() > 1) {
        throw std::runtime_error(
            "best_trial() is not defined for multi-objective studies. Use pareto_front() instead.");
    }
    const bool maximize = directions.front() == StudyDirection::Maximize;
    std::vector<Trial> all = trials();
    Trial* best = nullptr;
    // Strictly better only: ties keep the earlier trial and NaN never wins.
    for (Trial& t : all) {
        if (t.state != TrialState::Complete) continue;
        if (!best) {
            best = &t;
            continue;
        }
        const double v = t.value();
        const double b = best->value();
        if (maximize ? v > b : v < b) best = &t;
    }
    if (!best) throw std::runtime_error("No completed trials found.");
    return std::move(*best);
}

double Study::best_value() const { return best_trial().value(); }

ParamMap Study::best_params() const { return best_trial().params; }

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
        if (t.state == TrialState::Complete) complete.push_back(&t);
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
    const std::scoped_lock lock(queue_mutex);
    enqueued_params.push_back(params);
}

void Study::add_trial(const ParamMap& params, const std::vector<double>& values) {
    const auto got = static_cast<std::int32_t>(values.size());
    const auto want = static_cast<std::int32_t>(directions.size());
    if (got != want) {
        throw std::invalid_argument("add_trial: got " + std::to_string(got) + " values but study has " +
                                    std::to_string(want) + " directions.");
    }
    Trial trial(storage->create_trial(study_id), study_id);
    trial.params = params;
    trial.values = values;
    trial.state = TrialState::Complete;
    trial.datetime_complete = std::chrono::system_clock::now();
    storage->update_trial(trial);
}

}  // namespace tarvex
