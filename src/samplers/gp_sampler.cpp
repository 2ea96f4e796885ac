#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tarvex/random.hpp"
#include "tarvex/samplers.hpp"

namespace tarvex {
namespace {

constexpr std::uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ULL;

GPSamplerConfig validated(GPSamplerConfig config) {
    if (config.n_cand < 1) throw std::invalid_argument("GPSampler: n_cand must be at least 1.");
    return config;
}

// Whether a recommended value is one the requested distribution can produce. A trial may ask
// for a name with other bounds or another kind than the trial the search space came from.
bool value_fits(const ParamValue& v, const Distribution& dist) {
    if (const auto* f = std::get_if<FloatDist>(&dist)) {
        const double* x = std::get_if<double>(&v);
        return x && f->low <= *x && *x <= f->high;
    }
    if (const auto* i = std::get_if<IntDist>(&dist)) {
        const int* x = std::get_if<int>(&v);
        return x && i->low <= *x && *x <= i->high && (i->log || (i->step > 0 && (std::int64_t{*x} - i->low) % i->step == 0));
    }
    const auto& choices = std::get<CategoricalDist>(dist).choices;
    const std::string* x = std::get_if<std::string>(&v);
    return x && std::find(choices.begin(), choices.end(), *x) != choices.end();
}

}  // namespace

GPSampler::GPSampler(GPSamplerConfig config_) : config(validated(config_)), rng(utils::make_generator(config.seed)) {}

ParamValue GPSampler::sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                         const Distribution& dist) {
    const std::scoped_lock lock(mutex);
    const TrialKey key{study.study_id, trial.trial_id};
    // A name outside the trial's recommendation, or a recommended value the request cannot take,
    // goes to the warm-up path: recomputing would give the same search space again.
    if (const auto hit = cache.find(key); hit != cache.end()) {
        const auto v = hit->second.find(name);
        return v != hit->second.end() && value_fits(v->second, dist) ? v->second : warmup_sample(trial, name, dist);
    }
    ParamMap rec = compute_recommendation(study, trial);
    if (!rec.empty()) {
        const auto& stored = cache.insert_or_assign(key, std::move(rec)).first->second;
        if (const auto v = stored.find(name); v != stored.end() && value_fits(v->second, dist)) return v->second;
    }
    return warmup_sample(trial, name, dist);
}

void GPSampler::after_trial(const Study& study, const Trial& trial) {
    const std::scoped_lock lock(mutex);
    const TrialKey key{study.study_id, trial.trial_id};
    cache.erase(key);
    pending.erase(key);
}

// Point trial_id + 1 of a Halton sequence, one dimension per parameter name, each dimension
// shifted (Cranley-Patterson) by a draw that depends only on the seed and the dimension.
ParamValue GPSampler::warmup_sample(const Trial& trial, const std::string& name, const Distribution& dist) {
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

}  // namespace tarvex
