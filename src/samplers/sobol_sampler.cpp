#include "tarvex/sobol_sampler.hpp"

#include <algorithm>
#include <cmath>

#include "sobol_directions.hpp"
#include "tarvex/distributions.hpp"
#include "unit_float.hpp"

namespace tarvex {
namespace {

std::uint64_t splitmix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

std::uint32_t reverse_bits(std::uint32_t x) {
    x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
    x = ((x >> 8) & 0x00FF00FFu) | ((x & 0x00FF00FFu) << 8);
    return (x >> 16) | (x << 16);
}

// Owen's nested uniform scramble in base 2, by a hash that flips each bit depending only on the
// bits above it (Laine and Karras's permutation on the reversed bits, as Burley does it).
std::uint32_t owen_scramble(std::uint32_t x, std::uint32_t seed) {
    x = reverse_bits(x);
    x += seed;
    x ^= x * 0x6c50b47cu;
    x ^= x * 0xb82f1e52u;
    x ^= x * 0xc7afe638u;
    x ^= x * 0x8d22f6e6u;
    return reverse_bits(x);
}

// Part floor(u n) of n equal parts of [0, 1).
std::int64_t part(double u, std::int64_t n) { return std::min(n - 1, static_cast<std::int64_t>(u * n)); }

ParamValue map_unit(double u, const Distribution& dist) {
    if (const auto* c = std::get_if<CategoricalDist>(&dist)) {
        return c->choices[static_cast<std::size_t>(part(u, static_cast<std::int64_t>(c->choices.size())))];
    }
    if (const auto* i = std::get_if<IntDist>(&dist)) {
        if (!i->log) {
            const std::int64_t levels = (std::int64_t{i->high} - i->low) / i->step + 1;
            return static_cast<int>(i->low + i->step * part(u, levels));
        }
        const double a = std::log(i->low - 0.5), b = std::log(i->high + 0.5);
        const auto v = std::clamp<std::int64_t>(std::llround(std::exp(a + u * (b - a))), i->low, i->high);
        return static_cast<int>(v - (v - i->low) % i->step);
    }
    const auto& f = std::get<FloatDist>(dist);
    if (f.step && !f.log) {
        // The levels are counted only while a double holds their number exactly; a finer grid
        // (or a range wider than the largest double) is mapped as a continuous one and snapped.
        const double levels = std::floor((f.high - f.low) / *f.step + 1e-9) + 1;
        if (levels < 0x1p52) {
            return std::min(f.high, f.low + *f.step * static_cast<double>(part(u, static_cast<std::int64_t>(levels))));
        }
    }
    return detail::unit_float(f, u);
}

std::uint64_t scramble_seed_of(std::uint64_t seed, bool scramble) {
    if (!scramble) return 0;
    const std::uint64_t s = seed != 0 ? seed : std::random_device("default")();
    return s == 0 ? 1 : s;
}

}  // namespace

SobolSampler::SobolSampler(std::uint64_t seed, bool scramble)
    : scramble_seed(scramble_seed_of(seed, scramble)), beyond(seed == 0 ? 0 : splitmix64(seed)) {}

double SobolSampler::coordinate(std::size_t dim, std::uint32_t index) {
    while (directions.size() <= dim) directions.push_back(detail::sobol_directions(directions.size()));
    std::uint32_t x = detail::sobol_point(directions[dim], index);
    if (scramble_seed != 0) x = owen_scramble(x, static_cast<std::uint32_t>(splitmix64(scramble_seed + dim)));
    return (static_cast<double>(x) + 0.5) * 0x1p-32;
}

ParamValue SobolSampler::sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                            const Distribution& dist) {
    if (auto only = only_value(dist)) return std::move(*only);
    validate_distribution(name, dist);
    std::size_t dim;
    {
        const std::scoped_lock lock(mutex);
        dim = dims.try_emplace(name, dims.size()).first->second;
        if (dim < detail::kSobolDims)
            return map_unit(coordinate(dim, static_cast<std::uint32_t>(trial.trial_id)), dist);
    }
    return beyond.sample_independent(study, trial, name, dist);
}

}  // namespace tarvex
