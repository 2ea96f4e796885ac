// How model-based samplers score the trials of a history, pruned ones included.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "tarvex/storage.hpp"

namespace tarvex::detail {

// Whether a trial's outcome is one value the model can take as it is.
bool observed(const Trial& t);
// Whether a trial completed with n values, all finite: an observation of a study of n objectives.
bool observed(const Trial& t, std::size_t n);

// How far a trial's constraint values are from being met: the sum of the positive ones, infinite
// for a NaN; 0 for a feasible trial.
double total_violation(const std::vector<double>& constraints);

// The final value, oriented so that smaller is better, that each pruned trial with reports
// stands for: its last report ranked among the completed trials' reports at the same step, and
// the completed final value at that rank (the worst of them where it ranks below all). A pruned
// trial with no completed trial at its step is absent. maximize orients a single objective.
std::map<int, double> pruned_scores(const std::map<int, StoredTrial>& trials, bool maximize);

}  // namespace tarvex::detail
