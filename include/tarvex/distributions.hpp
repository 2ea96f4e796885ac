// What a distribution allows.
#pragma once

#include <optional>
#include <string>

#include "tarvex/study.hpp"

namespace tarvex {

// Throws std::invalid_argument unless dist is one a sampler can draw from: finite float bounds,
// low <= high, low > 0 on a log scale, a positive (finite) step, at least one choice. The
// message names the call the objective made: "suggest_float('x'): low must be <= high, got
// low=2 and high=1.".
void validate_distribution(const std::string& name, const Distribution& dist);

// The call that asks for dist: "suggest_float", "suggest_int" or "suggest_categorical".
const char* suggest_call(const Distribution& dist);

// Whether v is a value dist can produce: of its kind, within its bounds, on its grid, among its
// choices. A proposal made for one distribution may be asked for with another.
bool can_produce(const Distribution& dist, const ParamValue& v);
// The value dist gives for a proposed v: v where can_produce; a number as the other kind of
// number where that loses nothing (1 for a float, 2.0 for an int); for a categorical and a
// number, the choice whose text reads as that number ("16", "16.0" or "1.6e1" for 16; an
// integer's own decimal text first); none otherwise.
std::optional<ParamValue> produced(const Distribution& dist, const ParamValue& v);
// The number v stands for: v itself where it is a number; for a text, the number it is the exact
// decimal form of ("16", "16.0" or "1.6e1" for 16); none otherwise.
std::optional<double> number_in(const ParamValue& v);
// Whether a trial holding held may have been given the proposed value by some distribution:
// held is proposed itself or one of the conversions of produced.
bool may_produce(const ParamValue& proposed, const ParamValue& held);

// The one value a float or int distribution with low == high allows (and a valid step and log
// bound); none for any other.
std::optional<ParamValue> only_value(const Distribution& dist);

}  // namespace tarvex
