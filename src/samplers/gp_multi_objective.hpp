// GP proposals for a study of several objectives by expected hypervolume improvement.
#pragma once

#include <Eigen/Core>
#include <random>
#include <vector>

#include "gp_objectives.hpp"
#include "gp_state.hpp"
#include "tarvex/history.hpp"

namespace tarvex::detail {

// The point of data's space that maximises the expected hypervolume improvement of independent
// models of the objectives (in standardised units, with the reference three tenths of the front's
// range beyond its worst point, or the one given; exact up to three objectives, a quasi-Monte
// Carlo estimate beyond), weighed by the probability of feasibility; while no
// observation is feasible, that probability alone. Candidates are quasi-random points and
// Gaussian steps around the front's points, the best refined by shrinking steps. Each model's
// fit starts where the study's previous one ended (memory), with restarts every restart_every-th.
Eigen::VectorXd ehvi_proposal(const GPSamplerConfig& config, const std::vector<const Trial*>& ran,
                              const History& history, const ConstraintFits& constraints, const TrainingData& layout,
                              GPStudyState& memory, std::mt19937_64& rng);

}  // namespace tarvex::detail
