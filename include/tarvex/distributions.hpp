// What a distribution allows.
#pragma once

#include "tarvex/study.hpp"

namespace tarvex {

// Whether v is a value dist can produce: of its kind, within its bounds, on its grid, among its
// choices. A proposal made for one distribution may be asked for with another.
bool can_produce(const Distribution& dist, const ParamValue& v);

}  // namespace tarvex
