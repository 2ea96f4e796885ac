// What a GP models besides one objective: several objectives as one random scalarisation, and a
// model per constraint.
#pragma once

#include <memory>
#include <random>
#include <vector>

#include "gp_training.hpp"
#include "tarvex/acquisition.hpp"
#include "tarvex/gaussian_process.hpp"

namespace tarvex::detail {

// The first objective's oriented value of a trial completed with finite values for all m, which
// marks the observations of a study of several objectives.
ValueOf all_objectives(std::size_t m);

// ParEGO's scalarisation (Knowles 2006) of the observed trials' objectives: each oriented
// objective scaled to [0, 1] over the trials with finite values for all, then the augmented
// Chebyshev sum max_k w_k f_k + 0.05 Σ_k w_k f_k, with weights w uniform on the simplex, drawn
// from rng.
ValueOf scalarised_values(const std::vector<const Trial*>& ran, const std::vector<StudyDirection>& directions,
                          std::mt19937_64& rng);

// One model per constraint of the trials of ran (rows of data, in order) that hold it, fitted to
// the constraint's standardised values, with the threshold where the constraint's 0 lies.
struct ConstraintFits {
    std::vector<std::unique_ptr<GaussianProcess>> models;
    std::vector<ConstraintModel> view;  // what the acquisition reads
    // Per row of data: a feasible observation, the rows an improvement is measured against.
    std::vector<char> feasible;
    bool any_feasible() const;
    // Per row: the total violation of an observation (0 for the feasible, infinite for rows
    // without constraint values), which orders the rows while none is feasible.
    std::vector<double> violation;
};
ConstraintFits fit_constraints(const TrainingData& data, const std::vector<const Trial*>& ran,
                               const GPSamplerConfig& config);

}  // namespace tarvex::detail
