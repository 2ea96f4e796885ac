#include <stdexcept>
#include <string>

#include "../common/plain_text.hpp"
#include "tarvex/samplers.hpp"
#include "tarvex/storage.hpp"

namespace tarvex {

Trial Study::ask() {
    Trial trial = make_trial();
    const std::scoped_lock lock(asked_mutex);
    asked.insert(trial.trial_id);
    return trial;
}

void Study::tell(Trial trial, TrialState state, std::vector<double> values, std::optional<std::string> fail_reason) {
    const std::string who = "tell: trial " + std::to_string(trial.trial_id);
    if (state == TrialState::Running) throw std::invalid_argument(who + ": state must be Complete, Pruned or Failed.");
    if (state == TrialState::Complete && values.size() != directions.size()) {
        throw std::invalid_argument(who + ": got " + std::to_string(values.size()) + " values but study has " +
                                    std::to_string(directions.size()) + " directions.");
    }
    if (state != TrialState::Complete && !values.empty()) {
        throw std::invalid_argument(who + ": a Pruned or Failed trial has no values.");
    }
    {
        const std::scoped_lock lock(asked_mutex);
        if (trial.study_id != study_id || asked.erase(trial.trial_id) == 0) {
            throw std::invalid_argument(who + " is not running in this study: it was told already, or never asked.");
        }
    }
    trial.state = state;
    trial.values = std::move(values);
    trial.fail_reason =
        state == TrialState::Failed && fail_reason ? std::optional(detail::shown_text(*fail_reason)) : std::nullopt;
    const auto id = trial.trial_id;
    try {
        finish(std::move(trial), TrialEnd{});
    } catch (...) {  // not stored: the trial may be told again
        const std::scoped_lock lock(asked_mutex);
        asked.insert(id);
        throw;
    }
}

}  // namespace tarvex
