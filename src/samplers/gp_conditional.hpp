// GP proposals for a study whose trials use different sets of parameters (a conditional space).
#pragma once

#include <map>
#include <random>
#include <vector>

#include "tarvex/gp_sampler.hpp"
#include "tarvex/history.hpp"

namespace tarvex::detail {

// Whether the observations of ran use more than one set of parameter names.
bool is_conditional(const std::vector<const Trial*>& ran);

// One model per set of names that observed trials used together (a branch), over that set
// only, so a name a branch does not use is never a fake value. Categoricals that hold one value
// over a branch (the choice that leads to it) stay at that value. Every branch's best point is
// scored by log EI against the best observation of the study, on values standardised over the
// whole study, and the best-scoring branch's point is the proposal; one already tried is
// replaced by an untried one. Empty where no branch has anything left to propose.
ParamMap conditional_proposal(const GPSamplerConfig& config, const std::vector<const Trial*>& ran,
                              const History& history, const std::map<int, double>& pruned, std::mt19937_64& rng);

}  // namespace tarvex::detail
