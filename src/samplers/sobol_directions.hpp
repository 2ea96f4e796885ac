// The direction numbers that define the Sobol sequence's dimensions.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tarvex::detail {

struct SobolDirection {
    std::uint32_t polynomial;      // primitive over GF(2), leading and constant terms included
    std::vector<std::uint32_t> m;  // initial direction numbers m_1 .. m_s, s its degree
};

constexpr std::size_t kSobolDims = 256;
extern const std::array<SobolDirection, kSobolDims> kSobolDirections;

// The 32 direction integers V_1 .. V_32 of dimension dim (< kSobolDims), V_k = m_k 2^(32 - k).
std::array<std::uint32_t, 32> sobol_directions(std::size_t dim);

// Point index of dimension dim, unscrambled: the XOR of V_k over the bits k of index's Gray code.
std::uint32_t sobol_point(const std::array<std::uint32_t, 32>& v, std::uint32_t index);

}  // namespace tarvex::detail
