#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tarvex/distributions.hpp"
#include "tarvex/random.hpp"
#include "tarvex/samplers.hpp"
#include "tarvex/saved_state.hpp"
#include "unit_float.hpp"

namespace tarvex {
namespace {

int sample_int(std::mt19937_64& rng, const IntDist& d) {
    // 64-bit arithmetic: the full 32-bit range has a width that does not fit an int.
    const std::int64_t low = d.low;
    const std::int64_t step = d.step;
    if (!d.log) {
        const std::int64_t n = (std::int64_t{d.high} - low) / step;
        const auto k = static_cast<std::int64_t>(utils::bounded_draw(rng, static_cast<std::uint64_t>(n)));
        return static_cast<int>(low + step * k);
    }
    const double a = std::log(static_cast<double>(d.low));
    const double b = std::log(static_cast<double>(d.high));
    const double x = std::round(std::exp((b - a) * utils::unit_draw(rng) + a));
    const auto r = static_cast<std::int64_t>(std::clamp(x, static_cast<double>(d.low), static_cast<double>(d.high)));
    const std::int64_t off = r - low;
    return static_cast<int>(low + off - off % step);
}

}  // namespace

RandomSampler::RandomSampler(std::uint64_t seed) : rng(utils::make_generator(seed)) {}

ParamValue RandomSampler::sample_independent(const Study&, const Trial&, const std::string& name,
                                             const Distribution& dist) {
    if (const auto* c = std::get_if<CategoricalDist>(&dist); c && c->choices.empty()) {
        throw std::runtime_error("RandomSampler: empty choices.");
    }
    validate_distribution(name, dist);
    const std::scoped_lock lock(mutex);
    return std::visit(
        [&](const auto& d) -> ParamValue {
            using D = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<D, FloatDist>) {
                return detail::unit_float(d, utils::unit_draw(rng));
            } else if constexpr (std::is_same_v<D, IntDist>) {
                return sample_int(rng, d);
            } else {
                const auto k = utils::bounded_draw(rng, d.choices.size() - 1);
                return d.choices[static_cast<std::size_t>(k)];
            }
        },
        dist);
}

std::string RandomSampler::saved_state() const {
    const std::scoped_lock lock(mutex);
    return utils::StateWriter().add(rng).text();
}

void RandomSampler::restore_state(const std::string& text) {
    utils::StateReader reader(text);
    std::mt19937_64 restored = reader.generator();
    reader.finish();
    const std::scoped_lock lock(mutex);
    rng = restored;
}

}  // namespace tarvex
