#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "gp_state.hpp"
#include "tarvex/distributions.hpp"
#include "tarvex/gp_sampler.hpp"
#include "tarvex/random.hpp"
#include "tarvex/saved_state.hpp"

namespace tarvex {
namespace {

constexpr std::uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ULL;

GPSamplerConfig validated(GPSamplerConfig config) {
    config.validate();
    return config;
}

}  // namespace

void GPSamplerConfig::validate() const {
    const auto require = [](bool ok, const char* field, const char* expected) {
        if (!ok) throw std::invalid_argument(std::string("GPSampler: ") + field + " must be " + expected + ".");
    };
    // Of the fields the compiled module sets, only n_cand is refused out of range: the others
    // have plain effects there (no restarts, every row, no local candidates below 0).
    require(n_cand >= 1, "n_cand", "at least 1");
    require(n_refine >= 0, "n_refine", "at least 0");
    require(refine_tol >= 0, "refine_tol", "at least 0");
    require(n_centres >= 1, "n_centres", "at least 1");
    require(local_scale > 0 && std::isfinite(local_scale), "local_scale", "a finite number above 0");
    require(restart_every >= 1, "restart_every", "at least 1");
    require(local_every >= 0, "local_every", "at least 0");
    require(min_local_rows >= 1, "min_local_rows", "at least 1");
    require(std::all_of(reference_point.begin(), reference_point.end(), [](double r) { return std::isfinite(r); }),
            "reference_point", "finite values");
}

GPSampler::GPSampler(GPSamplerConfig config_) : config(validated(config_)), rng(utils::make_generator(config.seed)) {}

void GPSampler::before_study(const Study& study) {
    detail::require_single_objective(study.directions.size(), config.multi_objective);
    detail::require_reference(study.directions.size(), config.reference_point);
}

std::unique_ptr<SamplerState> GPSampler::make_state(const Study&) { return std::make_unique<detail::GPStudyState>(); }

// Point trial_id + 1 of a Halton sequence, one dimension per parameter name, each dimension
// shifted (Cranley-Patterson) by a draw that depends only on the seed and the dimension.
ParamValue GPSampler::sample_independent(const Study&, const Trial& trial, const std::string& name,
                                         const Distribution& dist) {
    if (auto only = only_value(dist)) return std::move(*only);  // a range of one value is that value
    const std::scoped_lock lock(mutex);
    const auto [slot, added] = dim_index.try_emplace(name, next_dim);
    if (added) ++next_dim;
    const int k = slot->second;
    const std::int32_t base = k < static_cast<int>(utils::halton_primes.size()) ? utils::halton_primes[k] : 2;
    const std::uint64_t s0 = config.seed != 0 ? config.seed : kGoldenGamma;
    std::mt19937_64 shift_rng(static_cast<std::uint64_t>(k) * kGoldenGamma + s0);
    const double x = utils::unit_draw(shift_rng) + utils::radical_inverse(std::int64_t{trial.trial_id} + 1, base);

    SearchSpace space;
    space.add(name, dist);
    return space.from_unit(name, x - std::floor(x));
}

// The generator, and the names in the order they took their Halton dimensions: a copy's
// warm-up values follow them.
std::string GPSampler::saved_state() const {
    const std::scoped_lock lock(mutex);
    std::vector<const std::string*> names(dim_index.size());
    for (const auto& [name, dim] : dim_index) names[static_cast<std::size_t>(dim)] = &name;
    utils::StateWriter writer;
    writer.add(rng).add(static_cast<std::int64_t>(names.size()));
    for (const std::string* name : names) writer.add(*name);
    return writer.text();
}

void GPSampler::restore_state(const std::string& text) {
    utils::StateReader reader(text);
    std::mt19937_64 restored = reader.generator();
    const std::int64_t count = reader.number(0, std::numeric_limits<int>::max());
    std::unordered_map<std::string, int> names;
    for (int dim = 0; dim < count; ++dim) {
        // A name twice would leave a dimension without one.
        if (!names.emplace(reader.piece(), dim).second) reader.reject();
    }
    reader.finish();
    const std::scoped_lock lock(mutex);
    rng = restored;
    next_dim = static_cast<int>(count);
    dim_index = std::move(names);
}

}  // namespace tarvex
