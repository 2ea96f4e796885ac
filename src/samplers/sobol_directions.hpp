// The direction numbers that define the Sobol sequence's dimensions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvex::detail {

// The table's largest degree: that of its last polynomial.
constexpr std::size_t kMaxSobolDegree = 13;

// Plain arrays, so that the table is constant data rather than code that builds it at start-up
// (which sanitizer builds take minutes to compile).
struct SobolDirection {
    std::uint32_t polynomial;                        // primitive over GF(2), leading and constant terms included
    std::array<std::uint32_t, kMaxSobolDegree> m{};  // initial direction numbers m_1 .. m_s, s its degree
};

constexpr std::size_t kSobolDims = 1111;
extern const std::array<SobolDirection, kSobolDims> kSobolDirections;

// The 32 direction integers V_1 .. V_32 of dimension dim (< kSobolDims), V_k = m_k 2^(32 - k).
std::array<std::uint32_t, 32> sobol_directions(std::size_t dim);

// Point index of dimension dim, unscrambled: the XOR of V_k over the bits k of index's Gray code.
std::uint32_t sobol_point(const std::array<std::uint32_t, 32>& v, std::uint32_t index);

}  // namespace tarvex::detail
