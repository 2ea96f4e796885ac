#include "trial_ranking.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "trial_scores.hpp"

namespace tarvex::detail {

std::vector<int> front_ranks(const std::vector<const std::vector<double>*>& values,
                             const std::vector<StudyDirection>& directions) {
    const std::size_t n = values.size();
    std::vector<int> rank(n, -1);
    std::vector<std::size_t> left(n);
    for (std::size_t i = 0; i < n; ++i) left[i] = i;
    for (int front = 0; !left.empty(); ++front) {
        std::vector<std::size_t> rest;
        for (const std::size_t i : left) {
            const bool dominated = std::any_of(left.begin(), left.end(), [&](std::size_t j) {
                return j != i && Study::dominates(*values[j], *values[i], directions);
            });
            if (dominated) {
                rest.push_back(i);
            } else {
                rank[i] = front;
            }
        }
        left.swap(rest);
    }
    return rank;
}

std::vector<RankedConfig> ranked_configurations(const History& history, bool liar, int skip_id, bool any_pruned) {
    const std::size_t n_obj = history.directions.size();
    const bool maximize = n_obj == 1 && history.directions.front() == StudyDirection::Maximize;
    const std::map<int, double> pruned =
        n_obj == 1 && any_pruned ? pruned_scores(history.trials, maximize) : std::map<int, double>{};
    // (tier, key, tie-break, trial_id): smaller is better; no two alike, pending configurations
    // numbered after every trial.
    using Key = std::tuple<int, double, double, int>;
    std::vector<std::pair<Key, RankedConfig>> ranked;
    std::vector<const Trial*> completed;
    for (const auto& [id, t] : history.trials) {
        if (id == skip_id || t->params.empty()) continue;
        if (observed(*t, n_obj) && !t->feasible()) {
            ranked.push_back({{1, total_violation(t->constraints), 0, id}, RankedConfig{&t->params, id}});
        } else if (observed(*t, n_obj)) {
            if (n_obj == 1) {
                ranked.push_back(
                    {{0, maximize ? -t->values.front() : t->values.front(), 0, id}, RankedConfig{&t->params, id}});
            } else {
                completed.push_back(t.get());
            }
        } else if (t->state == TrialState::Pruned) {
            if (const auto s = pruned.find(id); s != pruned.end()) {
                ranked.push_back({{0, s->second, 0, id}, RankedConfig{&t->params, id}});
            } else {
                const auto& last = t->intermediate_values;
                const double step = last.empty() ? 0.0 : last.back().first;
                double report = last.empty() ? std::numeric_limits<double>::infinity() : last.back().second;
                if (maximize) report = -report;
                if (!std::isfinite(report)) report = std::numeric_limits<double>::infinity();
                ranked.push_back({{2, -step, report, id}, RankedConfig{&t->params, id}});
            }
        } else if (t->state != TrialState::Running) {
            ranked.push_back({{3, 0, 0, id}, RankedConfig{&t->params, id}});
        } else if (liar) {
            ranked.push_back({{4, 0, 0, id}, RankedConfig{&t->params, id}});
        }
    }
    if (!completed.empty()) {
        std::vector<const std::vector<double>*> values;
        for (const Trial* t : completed) values.push_back(&t->values);
        const std::vector<int> fronts = front_ranks(values, history.directions);
        for (std::size_t i = 0; i < completed.size(); ++i) {
            ranked.push_back({{0, fronts[i], 0, completed[i]->trial_id},
                              RankedConfig{&completed[i]->params, completed[i]->trial_id}});
        }
    }
    if (liar) {
        const int first = std::numeric_limits<int>::max() - static_cast<int>(history.pending.size());
        for (std::size_t i = 0; i < history.pending.size(); ++i) {
            ranked.push_back({{4, 0, 0, first + static_cast<int>(i)}, {history.pending[i], -1}});
        }
    }
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<RankedConfig> out;
    out.reserve(ranked.size());
    for (const auto& r : ranked) out.push_back(r.second);
    return out;
}

}  // namespace tarvex::detail
