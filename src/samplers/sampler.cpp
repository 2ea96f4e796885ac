#include "tarvex/sampler.hpp"

#include "tarvex/saved_state.hpp"

namespace tarvex {

void ISampler::before_study(const Study&) {}
void ISampler::after_trial(const Study&, const Trial&) {}
void ISampler::annotate(Trial&, SamplerState*) {}
ParamMap ISampler::propose(const History&, const Trial&, SamplerState*) { return {}; }
std::unique_ptr<SamplerState> ISampler::make_state(const Study&) { return nullptr; }
bool ISampler::exhausted(const SamplerState*) const { return false; }
std::string ISampler::saved_state() const { return {}; }
void ISampler::restore_state(const std::string& text) { utils::StateReader(text).finish(); }

}  // namespace tarvex
