// How NSGA's survival cuts the front that does not fit whole, beyond crowding: by hypervolume
// contribution or by niching around reference directions.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

#include "nsga_selection.hpp"

namespace tarvex::detail {

// The k members of front (positions into it) that keep the most hypervolume.
std::vector<std::size_t> by_contribution(const std::vector<Individual>& population,
                                         const std::vector<std::size_t>& front, std::size_t k);

// The k members of front (indices into population) that NSGA-III keeps beside kept.
std::vector<std::size_t> niched(const std::vector<Individual>& population, const std::vector<std::size_t>& kept,
                                const std::vector<std::size_t>& front, std::size_t k,
                                const std::vector<std::vector<double>>& directions, std::mt19937_64& rng);

}  // namespace tarvex::detail
