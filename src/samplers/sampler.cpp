#include "tarvex/samplers.hpp"

namespace tarvex {

void ISampler::before_study(const Study&) {}
void ISampler::after_trial(const Study&, const Trial&) {}

}  // namespace tarvex
