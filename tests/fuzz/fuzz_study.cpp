// Fuzz target: a byte string drives the search-space encoding and a study run with any of the
// samplers. Any accepted parameter must come back inside its bounds, every run trial
// must be stored once in a final state, and nothing may crash. Violations abort.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tarvex/samplers.hpp"
#include "tarvex/study.hpp"

namespace {

using namespace tarvex;

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    template <typename T>
    T take() {
        T out{};
        const std::size_t n = std::min(sizeof(T), size - pos);
        std::memcpy(&out, data + pos, n);
        pos += n;
        return out;
    }
    int small(int n) { return static_cast<int>(take<std::uint8_t>() % n); }
    bool empty() const { return pos >= size; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
};

void require(bool ok) {
    if (!ok) std::abort();
}

std::string name_of(Bytes& in) { return std::string(1, static_cast<char>('a' + in.small(4))); }

std::vector<std::string> choices_of(Bytes& in) {
    std::vector<std::string> out(static_cast<std::size_t>(in.small(4)));
    for (auto& c : out) c = name_of(in);
    return out;
}

bool within(const ParamValue& v, const Distribution& dist) {
    if (const auto* f = std::get_if<FloatDist>(&dist))
        return f->low <= std::get<double>(v) && std::get<double>(v) <= f->high;
    if (const auto* i = std::get_if<IntDist>(&dist)) {
        const int x = std::get<int>(v);
        return i->low <= x && x <= i->high && (i->log || (std::int64_t{x} - i->low) % i->step == 0);
    }
    const auto& c = std::get<CategoricalDist>(dist).choices;
    return std::find(c.begin(), c.end(), std::get<std::string>(v)) != c.end();
}

Distribution distribution_of(Bytes& in) {
    switch (in.small(3)) {
        case 0: {
            const double low = in.take<double>(), high = in.take<double>();
            const bool log = in.small(2);
            std::optional<double> step;
            if (in.small(3) == 0) step = in.take<double>();
            return FloatDist{low, high, log, step};
        }
        case 1: {
            const int low = in.take<int>(), high = in.take<int>();
            const bool log = in.small(2);
            return IntDist{low, high, log, in.small(2) ? 1 : in.take<int>()};
        }
        default:
            return CategoricalDist{choices_of(in)};
    }
}

void encode_round_trip(Bytes& in) {
    SearchSpace space;
    for (int k = in.small(4); k > 0; --k) {
        try {
            space.add(name_of(in), distribution_of(in));
        } catch (const std::invalid_argument&) {
        }
    }
    for (const ParamSpec& spec : space.specs) {
        for (int k = 0; k < 3; ++k) {
            const ParamValue v = space.from_unit(spec.name, in.take<double>());
            require(within(v, spec.dist));
            const Eigen::VectorXd u = space.to_unit_block(spec.name, v);
            require(u.allFinite() && u.minCoeff() >= -1e-9 && u.maxCoeff() <= 1 + 1e-9);
            require(space.from_unit_block(spec.name, u) == space.from_unit_block(spec.name, u));
        }
    }
}

std::shared_ptr<ISampler> sampler_of(Bytes& in) {
    const auto seed = in.take<std::uint64_t>() | 1;
    switch (in.small(8)) {
        case 0: {
            GPSamplerConfig config;
            config.n_warmup = in.small(4);
            config.n_cand = 1 + in.small(32);
            config.n_restarts = in.small(2);
            config.warp_values = config.trust_region = config.principal_axes = config.quadratic_mean = in.small(2);
            config.seed = seed;
            return std::make_shared<GPSampler>(config);
        }
        case 1: {
            TPESamplerConfig config;
            config.n_startup_trials = in.small(4);
            config.n_ei_candidates = 1 + in.small(8);
            config.multivariate = in.small(2);
            config.seed = seed;
            return std::make_shared<TPESampler>(config);
        }
        case 2: {
            CMAESSamplerConfig config;
            config.n_startup_trials = in.small(3);
            config.popsize = in.small(2) ? 0 : 2 + in.small(4);
            config.restart_strategy = static_cast<CMARestart>(in.small(3));
            config.bounds = in.small(2) ? CMABounds::Mirror : CMABounds::Resample;
            config.separable = in.small(2);
            config.surrogate = in.small(2);
            config.with_margin = in.small(2);
            config.warm_start_from_history = in.small(2);
            config.seed = seed;
            return std::make_shared<CMAESSampler>(config);
        }
        case 3:
            return std::make_shared<SobolSampler>(seed, in.small(2));
        case 4: {
            std::map<std::string, std::vector<ParamValue>> grid;
            for (int k = 1 + in.small(3); k > 0; --k) {
                auto& values = grid[name_of(in)];
                for (int j = 1 + in.small(3); j > 0; --j) {
                    const int kind = in.small(3);
                    const ParamValue v = kind == 0   ? ParamValue(in.take<double>())
                                         : kind == 1 ? ParamValue(in.small(8))
                                                     : ParamValue(name_of(in));
                    // A grid holds each value once (1 and 1.0 are one value).
                    const auto same = [&](const ParamValue& w) { return may_produce(w, v) || may_produce(v, w); };
                    if (std::none_of(values.begin(), values.end(), same)) values.push_back(v);
                }
            }
            return std::make_shared<GridSampler>(grid, seed);
        }
        case 5: {
            AutoSamplerConfig config;
            config.max_gp_trials = in.small(4);
            config.seed = seed;
            return std::make_shared<AutoSampler>(config);
        }
        case 6: {
            NSGA2SamplerConfig config;
            config.population_size = 2 + in.small(4);
            config.seed = seed;
            return std::make_shared<NSGA2Sampler>(config);
        }
        default:
            return std::make_shared<RandomSampler>(seed);
    }
}

void run_study(Bytes& in) {
    Study study(StudyDirection::Minimize, sampler_of(in));
    for (int k = in.small(3); k > 0; --k) {
        study.enqueue_trial({{name_of(in), in.small(2) ? ParamValue{in.take<double>()} : ParamValue{in.take<int>()}}});
    }
    int calls = 0;
    bool out_of_bounds = false;
    const auto objective = [&](Trial& t) {
        ++calls;
        for (int k = in.small(5); k > 0; --k) {
            const std::string name = name_of(in);
            const Distribution dist = distribution_of(in);
            const bool fresh = !t.params.count(name) && !t.fixed_params.count(name);
            ParamValue v;
            if (const auto* f = std::get_if<FloatDist>(&dist)) {
                v = t.suggest_float(name, f->low, f->high, f->log, f->step);
            } else if (const auto* i = std::get_if<IntDist>(&dist)) {
                v = t.suggest_int(name, i->low, i->high, i->log, i->step);
            } else {
                v = t.suggest_categorical(name, std::get<CategoricalDist>(dist).choices);
            }
            if (fresh && !within(v, dist)) out_of_bounds = true;
            t.report(in.take<double>(), in.take<int>());
        }
        if (in.small(4) == 0) throw std::runtime_error("objective failed");
        return in.take<double>();
    };
    study.optimize(objective, in.small(8), 1, std::nullopt);
    require(!out_of_bounds);
    const auto trials = study.trials();
    require(static_cast<int>(trials.size()) == calls);
    for (const Trial& t : trials) require(t.state != TrialState::Running);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    encode_round_trip(in);
    run_study(in);
    return 0;
}
