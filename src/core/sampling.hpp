// What a study keeps for its sampler between calls.
#pragma once

#include <map>
#include <memory>

#include "tarvex/sampler.hpp"
#include "tarvex/trial_cache.hpp"

namespace tarvex::detail {

struct Sampling {
    std::unique_ptr<SamplerState> state;  // what the sampler made for the study
    TrialCache trials;                    // the history, read only for a sampler that proposes
    // The proposals of the running trials, by trial_id; an empty one for a trial that asked and
    // got none. A trial's entry goes when it finishes.
    std::map<int, ParamMap> proposals;
};

}  // namespace tarvex::detail
