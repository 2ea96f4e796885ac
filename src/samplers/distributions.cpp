#include <algorithm>
#include <cstdint>

#include "tarvex/distributions.hpp"

namespace tarvex {

bool can_produce(const Distribution& dist, const ParamValue& v) {
    if (const auto* f = std::get_if<FloatDist>(&dist)) {
        const double* x = std::get_if<double>(&v);
        return x && f->low <= *x && *x <= f->high;
    }
    if (const auto* i = std::get_if<IntDist>(&dist)) {
        const int* x = std::get_if<int>(&v);
        return x && i->low <= *x && *x <= i->high &&
               (i->log || (i->step > 0 && (std::int64_t{*x} - i->low) % i->step == 0));
    }
    const auto& choices = std::get<CategoricalDist>(dist).choices;
    const std::string* x = std::get_if<std::string>(&v);
    return x && std::find(choices.begin(), choices.end(), *x) != choices.end();
}

}  // namespace tarvex
