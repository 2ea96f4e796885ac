// Random search: every parameter drawn on its own.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>
#include <string>

#include "tarvex/sampler.hpp"

namespace tarvex {

// Every parameter drawn independently and uniformly from its distribution.
class RandomSampler : public ISampler {
public:
    // seed 0: seeded from the platform's random device.
    explicit RandomSampler(std::uint64_t seed);
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;
    std::string saved_state() const override;
    void restore_state(const std::string& text) override;

private:
    std::mt19937_64 rng;  // guarded by mutex
    mutable std::mutex mutex;
};

}  // namespace tarvex
