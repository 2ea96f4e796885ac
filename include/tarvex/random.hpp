// The two draws every generator of the library is read through, and the Halton sequence the
// samplers spread points with. Each generator is a 64-bit Mersenne Twister owned by a sampler
// or created locally; there is no global one.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

namespace tarvex::utils {

// u in [0, 1) from one 64-bit output: x * 2^-64, with the round-up to 1 replaced by 1 - 2^-53.
inline double unit_draw(std::mt19937_64& rng) {
    const double u = static_cast<double>(rng()) * 0x1p-64;
    return u < 1.0 ? u : 0x1.fffffffffffffp-1;
}

// k uniform in [0, m] by Lemire's multiply-and-reject; usually one output.
inline std::uint64_t bounded_draw(std::mt19937_64& rng, std::uint64_t m) {
    if (m == ~std::uint64_t{0}) return rng();
    const std::uint64_t range = m + 1;
    unsigned __int128 product = static_cast<unsigned __int128>(rng()) * range;
    auto low = static_cast<std::uint64_t>(product);
    if (low < range) {
        const std::uint64_t threshold = (0 - range) % range;  // (2^64 - range) mod range
        while (low < threshold) {
            product = static_cast<unsigned __int128>(rng()) * range;
            low = static_cast<std::uint64_t>(product);
        }
    }
    return static_cast<std::uint64_t>(product >> 64);
}

// A standard normal draw by Box-Muller on two unit draws, so that a seed gives the same values
// with every standard library.
inline double normal_draw(std::mt19937_64& rng) {
    const double u = 1.0 - unit_draw(rng);  // in (0, 1]
    const double v = unit_draw(rng);
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
}

// Seed 0 asks for a non-reproducible generator: one 32-bit value from the random device.
inline std::mt19937_64 make_generator(std::uint64_t seed) {
    if (seed != 0) return std::mt19937_64(seed);
    std::random_device device("default");
    return std::mt19937_64(static_cast<std::uint64_t>(device()));
}

// Halton bases: dimension j uses the (j + 1)-th prime.
inline constexpr std::array<std::int32_t, 32> halton_primes = {2,  3,  5,  7,   11,  13,  17,  19,  23,  29, 31,
                                                               37, 41, 43, 47,  53,  59,  61,  67,  71,  73, 79,
                                                               83, 89, 97, 101, 103, 107, 109, 113, 127, 131};

// The i-th element of the van der Corput sequence in base b: the digits of i mirrored behind
// the point. 0 for i <= 0.
inline double radical_inverse(std::int64_t i, std::int32_t b) {
    double r = 0;
    double f = 1;
    while (i > 0) {
        f /= b;
        r += static_cast<double>(i % b) * f;
        i /= b;
    }
    return r;
}

}  // namespace tarvex::utils
