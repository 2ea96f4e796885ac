// The direction both pruners judge by.
#pragma once

#include "tarvex/study.hpp"

namespace tarvex::detail {

// +1 where smaller values are better, -1 in a single-objective maximising study: every rule
// judges sign × value with smaller better. A multi-objective study has no one direction, and
// its reports are judged as they are, smaller better.
inline double pruning_sign(const Study& study) {
    return study.directions.size() == 1 && study.directions.front() == StudyDirection::Maximize ? -1.0 : 1.0;
}

}  // namespace tarvex::detail
