// Samplers and search space: the sampler interface, random sampling, the unit-cube
// encoding of parameters and the Gaussian-process sampler.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>
#include <string>

#include "tarvex/study.hpp"

namespace tarvex {

class ISampler {
public:
    virtual ~ISampler() = default;
    // Once per optimisation run, before its first trial is created.
    virtual void before_study(const Study& study);
    // Only for a name the trial holds neither in params nor in fixed_params.
    virtual ParamValue sample_independent(const Study& study, const Trial& trial,
                                          const std::string& name, const Distribution& dist) = 0;
    // Once per finished run trial, before it is written to storage.
    virtual void after_trial(const Study& study, const Trial& trial);
};

// Every parameter drawn independently and uniformly from its distribution.
class RandomSampler : public ISampler {
public:
    // seed 0: seeded from the platform's random device.
    explicit RandomSampler(std::uint64_t seed);
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;

private:
    std::mt19937_64 rng;  // guarded by mutex
    std::mutex mutex;
};

}  // namespace tarvex
