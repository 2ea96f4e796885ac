// What a pruner keeps of a study between calls. Finished trials never change, so a view reads only
// the trials stored since its last call, and keeps, for each step a rule has asked about, the
// values the trials contribute there, sorted: a call costs a lookup, not a pass over every report
// of every trial.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "pruning_order.hpp"
#include "tarvex/pruner.hpp"
#include "tarvex/trial_cache.hpp"

namespace tarvex::detail {

// What one value a trial contributes to the comparison at a step: nothing (empty), or a value
// (NaN included where the rule counts it).
using ContributionAt = std::optional<double> (*)(const Trial& trial, std::int32_t step);

struct PrunerView : PrunerState {
    // The sign-adjusted values at one step: the numbers sorted ascending, and how many were NaN.
    struct Column {
        std::vector<double> sorted;
        std::int64_t nans = 0;
        std::int64_t size() const { return static_cast<std::int64_t>(sorted.size()) + nans; }
    };

    PrunerView(const Study& study, ContributionAt contribution)
        : sign(pruning_sign(study)), contribution(contribution) {}

    // Takes in what the storage stored since the last call.
    void refresh(const Study& study) {
        for (const auto& [trial, replaced] : cache.refresh(study)) {
            if (replaced) account(*replaced, -1);
            account(*trial, +1);
        }
    }

    // The column at step, built from every trial on its first use.
    const Column& column(std::int32_t step) {
        const auto [slot, added] = columns.try_emplace(step);
        if (added) {
            for (const auto& [id, trial] : cache.trials()) add_to(slot->second, *trial, step);
            std::sort(slot->second.sorted.begin(), slot->second.sorted.end());
        }
        return slot->second;
    }

    std::mutex mutex;   // guards the members below: a pruner is called by several workers at once
    const double sign;  // pruning_sign of the study
    TrialCache cache;
    std::int64_t complete = 0;  // Complete trials read so far
    std::unordered_map<std::int32_t, Column> columns;

private:
    void account(const Trial& trial, int delta) {
        if (trial.state == TrialState::Complete) complete += delta;
        for (auto& [step, column] : columns) {
            if (delta > 0) {
                add_to(column, trial, step, true);
            } else {
                remove_from(column, trial, step);
            }
        }
    }

    void add_to(Column& column, const Trial& trial, std::int32_t step, bool keep_sorted = false) const {
        const std::optional<double> v = contribution(trial, step);
        if (!v) return;
        if (std::isnan(*v)) {
            ++column.nans;
        } else if (keep_sorted) {
            column.sorted.insert(std::upper_bound(column.sorted.begin(), column.sorted.end(), sign * *v), sign * *v);
        } else {
            column.sorted.push_back(sign * *v);
        }
    }

    void remove_from(Column& column, const Trial& trial, std::int32_t step) const {
        const std::optional<double> v = contribution(trial, step);
        if (!v) return;
        if (std::isnan(*v)) {
            --column.nans;
        } else if (const auto at = std::lower_bound(column.sorted.begin(), column.sorted.end(), sign * *v);
                   at != column.sorted.end() && *at == sign * *v) {
            column.sorted.erase(at);
        }
    }

    const ContributionAt contribution;
};

// The judge's answer on the view that pruner made for the study, brought up to date first; a
// study whose pruner is another one gets a view of its own for this call.
template <class Judge>
bool judge_on_view(const IPruner& pruner, const Study& study, const Judge& judge) {
    if (auto* const view = static_cast<PrunerView*>(study.pruner_state(pruner))) {
        const std::scoped_lock lock(view->mutex);
        view->refresh(study);
        return judge(*view);
    }
    PrunerView view(study, judge.contribution);
    view.refresh(study);
    return judge(view);
}

}  // namespace tarvex::detail
