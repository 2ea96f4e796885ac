#include "sobol_directions.hpp"

namespace tarvex::detail {

std::array<std::uint32_t, 32> sobol_directions(std::size_t dim) {
    const SobolDirection& d = kSobolDirections.at(dim);
    std::array<std::uint32_t, 32> v{};
    if (dim == 0) {
        for (int k = 1; k <= 32; ++k) v[k - 1] = std::uint32_t{1} << (32 - k);
        return v;
    }
    const int s = 31 - __builtin_clz(d.polynomial);                                     // the degree
    const std::uint32_t a = (d.polynomial >> 1) & ((std::uint32_t{1} << (s - 1)) - 1);  // inner coefficients
    std::array<std::uint32_t, 33> m{};
    for (int k = 1; k <= s; ++k) m[k] = d.m[static_cast<std::size_t>(k - 1)];
    for (int k = s + 1; k <= 32; ++k) {
        std::uint32_t next = m[k - s] ^ (m[k - s] << s);
        for (int i = 1; i < s; ++i) {
            if ((a >> (s - 1 - i)) & 1) next ^= m[k - i] << i;
        }
        m[k] = next;
    }
    for (int k = 1; k <= 32; ++k) v[k - 1] = m[k] << (32 - k);
    return v;
}

std::uint32_t sobol_point(const std::array<std::uint32_t, 32>& v, std::uint32_t index) {
    std::uint32_t gray = index ^ (index >> 1);
    std::uint32_t x = 0;
    for (int k = 0; gray != 0; ++k, gray >>= 1) {
        if (gray & 1) x ^= v[static_cast<std::size_t>(k)];
    }
    return x;
}

}  // namespace tarvex::detail
