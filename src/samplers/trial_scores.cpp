#include "trial_scores.hpp"

#include <limits>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace tarvex::detail {

bool observed(const Trial& t) {
    return t.state == TrialState::Complete && t.values.size() == 1 && std::isfinite(t.values.front());
}

bool observed(const Trial& t, std::size_t n) {
    return t.state == TrialState::Complete && t.values.size() == n &&
           std::all_of(t.values.begin(), t.values.end(), [](double v) { return std::isfinite(v); });
}

double total_violation(const std::vector<double>& constraints) {
    double sum = 0;
    for (const double c : constraints)
        sum += std::isnan(c) ? std::numeric_limits<double>::infinity() : std::max(0.0, c);
    return sum;
}

std::map<int, double> pruned_scores(const std::map<int, StoredTrial>& trials, bool maximize) {
    const double sign = maximize ? -1.0 : 1.0;
    // The oriented reports and final values of the completed trials at each step, each sorted.
    struct Peers {
        std::vector<double> reports, finals;
    };
    // One pass over the trials: most studies have no pruned trial, and then nothing else is done.
    std::vector<const Trial*> pruned, peers_of;
    for (const auto& [id, t] : trials) {
        if (t->intermediate_values.empty()) continue;
        if (t->state == TrialState::Pruned) {
            pruned.push_back(t.get());
        } else if (observed(*t)) {
            peers_of.push_back(t.get());
        }
    }
    std::map<int, double> scores;
    if (pruned.empty()) return scores;
    std::unordered_map<int, Peers> at_step;
    for (const Trial* t : peers_of) {
        for (const auto& [step, value] : t->intermediate_values) {
            if (!std::isfinite(value)) continue;
            Peers& peers = at_step[step];
            peers.reports.push_back(sign * value);
            peers.finals.push_back(sign * t->values.front());
        }
    }
    for (auto& [step, peers] : at_step) {
        std::sort(peers.reports.begin(), peers.reports.end());
        std::sort(peers.finals.begin(), peers.finals.end());
    }
    for (const Trial* t : pruned) {
        const auto& [step, value] = t->intermediate_values.back();
        const auto peers = at_step.find(step);
        if (!std::isfinite(value) || peers == at_step.end()) continue;
        const std::vector<double>& reports = peers->second.reports;
        const auto rank = std::upper_bound(reports.begin(), reports.end(), sign * value) - reports.begin();
        const std::vector<double>& finals = peers->second.finals;
        scores.emplace(t->trial_id, finals[std::min(static_cast<std::size_t>(rank), finals.size() - 1)]);
    }
    return scores;
}

}  // namespace tarvex::detail
