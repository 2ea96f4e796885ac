// Grid search: every combination of given values, each once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tarvex/sampler.hpp"

namespace tarvex {

// The grid is every combination of the values listed per name, taken in an order shuffled by
// seed. Trial trial_id takes the point at position trial_id mod (number of points) of that order,
// or, where that point is already taken (by a finished, running or pending trial of the study,
// in any process), the next untaken one. A run's trial takes its point as it is created. Once
// every point is taken the sampler is exhausted and a run starts no more trials; a trial started
// regardless (by ask, or by another process as the last point went) evaluates its position's
// point again. A suggest call for
// a name outside the grid, or one whose distribution cannot produce the grid's value, throws
// std::invalid_argument.
class GridSampler : public ISampler {
public:
    // Throws std::invalid_argument for an empty grid, a name without values, or more than 2^31
    // points.
    GridSampler(std::map<std::string, std::vector<ParamValue>> grid, std::uint64_t seed);
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;
    bool proposes() const override { return true; }
    ParamMap propose(const History& history, const Trial& trial, SamplerState* state) override;
    std::unique_ptr<SamplerState> make_state(const Study& study) override;
    bool exhausted(const SamplerState* state) const override;
    bool proposes_at_start() const override { return true; }

    std::size_t size() const { return order.size(); }

private:
    ParamMap point(std::size_t index) const;
    // The index of the point config holds, if it holds one.
    std::optional<std::size_t> index_of(const ParamMap& config) const;

    const std::map<std::string, std::vector<ParamValue>> grid;
    std::vector<std::uint32_t> order;  // the points' indices, shuffled
};

}  // namespace tarvex
