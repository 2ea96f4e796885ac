// The hypervolume indicator: the volume a set of points dominates up to a reference point, every
// objective minimised. The measure multi-objective samplers and reports compare fronts by.
#pragma once

#include <vector>

namespace tarvex {

// Exact. Points need not be non-dominated; a point that is not strictly below the reference in
// every objective (or holds a NaN) adds nothing. Two objectives take O(n log n) (a sweep), three
// O(n log n) (a sweep over the third objective keeping the two-objective front in a balanced tree,
// after Beume et al. 2009); more objectives slice the last one and recurse down to three
// (Hypervolume by Slicing Objectives, While et al. 2006), O(n^(d-2) log n). Throws
// std::invalid_argument when a point's length differs from the reference's, or the reference is
// empty or not finite.
double hypervolume(const std::vector<std::vector<double>>& points, const std::vector<double>& reference);

}  // namespace tarvex
