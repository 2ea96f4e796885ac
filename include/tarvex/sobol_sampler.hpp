// Quasi-random search: a scrambled Sobol sequence.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "tarvex/random_sampler.hpp"
#include "tarvex/sampler.hpp"

namespace tarvex {

// Trial trial_id takes point trial_id of a Sobol sequence with one dimension per parameter name,
// in the order this sampler first met the names; each dimension is Owen-scrambled (nested
// uniform, by a hash seeded from seed and the dimension) unless scramble is false. A point's
// coordinate u maps to a parameter by cutting [0, 1) into equal parts, one per value (integers,
// steps and choices; the others continuously, on the log scale where they have one), so a study
// whose trials are numbered from 0 covers each value equally in any prefix of 2^m trials that
// the number of values divides. The history is not read. Names past the 1111th are drawn at random.
class SobolSampler : public ISampler {
public:
    // seed 0: a nondeterministic scramble.
    explicit SobolSampler(std::uint64_t seed, bool scramble = true);
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;

private:
    // Coordinate dim of point index, in (0, 1); with mutex held.
    double coordinate(std::size_t dim, std::uint32_t index);

    std::mutex mutex;
    const std::uint64_t scramble_seed;                      // 0: no scrambling
    std::unordered_map<std::string, std::size_t> dims;      // guarded by mutex
    std::vector<std::array<std::uint32_t, 32>> directions;  // guarded by mutex; per dimension met
    RandomSampler beyond;
};

}  // namespace tarvex
