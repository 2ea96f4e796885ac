// What a sampler reads of a study when it proposes a configuration.
#pragma once

#include <map>
#include <vector>

#include "tarvex/storage.hpp"

namespace tarvex {

// A read-only view of one study, handed to a sampler for one call. Only valid during that call.
struct History {
    const std::vector<StudyDirection>& directions;
    // The study's stored trials by trial_id, as its storage last reported them: finished ones,
    // and running ones where the storage keeps them (a database shared by processes).
    const std::map<int, StoredTrial>& trials;
    // The configurations of the study's other running trials: the proposals made for them, then
    // the parameters so far of those the storage records as running that got no proposal here.
    // The trial being sampled is not among them.
    const std::vector<const ParamMap*>& pending;
};

}  // namespace tarvex
