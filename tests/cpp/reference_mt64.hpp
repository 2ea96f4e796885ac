// An MT19937-64 written from the published algorithm, independent of the standard library's.
#pragma once

#include <cstdint>

class ReferenceMt64 {
public:
    explicit ReferenceMt64(std::uint64_t seed) {
        mt[0] = seed;
        for (int i = 1; i < 312; ++i) mt[i] = 6364136223846793005ULL * (mt[i - 1] ^ (mt[i - 1] >> 62)) + i;
        index = 312;
    }
    std::uint64_t next() {
        if (index >= 312) twist();
        std::uint64_t x = mt[index++];
        x ^= (x >> 29) & 0x5555555555555555ULL;
        x ^= (x << 17) & 0x71D67FFFEDA60000ULL;
        x ^= (x << 37) & 0xFFF7EEE000000000ULL;
        x ^= x >> 43;
        return x;
    }
    // The unit draw, as a user would write it from its definition.
    double unit() {
        const double u = static_cast<double>(next()) / 18446744073709551616.0;
        return u >= 1.0 ? 0.9999999999999999 : u;
    }
    // Lemire's multiply-and-reject in [0, m].
    std::uint64_t bounded(std::uint64_t m) {
        const std::uint64_t r = m + 1;
        while (true) {
            const unsigned __int128 p = static_cast<unsigned __int128>(next()) * r;
            const auto lo = static_cast<std::uint64_t>(p);
            if (lo >= r || lo >= (-r) % r) return static_cast<std::uint64_t>(p >> 64);
        }
    }

private:
    void twist() {
        constexpr std::uint64_t upper = 0xFFFFFFFF80000000ULL, lower = 0x7FFFFFFFULL;
        for (int i = 0; i < 312; ++i) {
            const std::uint64_t x = (mt[i] & upper) | (mt[(i + 1) % 312] & lower);
            std::uint64_t xa = x >> 1;
            if (x & 1) xa ^= 0xB5026F5AA96619E9ULL;
            mt[i] = mt[(i + 156) % 312] ^ xa;
        }
        index = 0;
    }
    std::uint64_t mt[312];
    int index;
};
