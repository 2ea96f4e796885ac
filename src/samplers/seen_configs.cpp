#include "seen_configs.hpp"

#include <cmath>
#include <cstdint>

#include "tarvex/random.hpp"

namespace tarvex::detail {
namespace {

constexpr std::uint64_t kMaxEnumerated = 4096;

// The values a parameter can take, or none for a continuous one (or one with too many).
std::vector<ParamValue> levels(const Distribution& dist) {
    std::vector<ParamValue> out;
    if (const auto* c = std::get_if<CategoricalDist>(&dist)) {
        out.assign(c->choices.begin(), c->choices.end());
    } else if (const auto* i = std::get_if<IntDist>(&dist)) {
        if (i->log || (std::int64_t{i->high} - i->low) / i->step >= std::int64_t{kMaxEnumerated}) return {};
        for (std::int64_t v = i->low; v <= i->high; v += i->step) out.emplace_back(static_cast<int>(v));
    } else if (const auto& f = std::get<FloatDist>(dist); f.step && !f.log) {
        const double n = std::floor((f.high - f.low) / *f.step + 1e-9);
        if (!(n < static_cast<double>(kMaxEnumerated))) return {};
        for (int k = 0; k <= static_cast<int>(n); ++k) out.emplace_back(f.low + k * *f.step);
    }
    return out;
}

}  // namespace

SeenConfigs::SeenConfigs(std::vector<std::string> names_, const History& history) : names(std::move(names_)) {
    std::vector<ParamValue> k;
    for (const auto& [id, t] : history.trials) {
        if (key(t->params, k)) seen.insert(k);
    }
    for (const ParamMap* p : history.pending) {
        if (key(*p, k)) seen.insert(k);
    }
}

bool SeenConfigs::key(const ParamMap& config, std::vector<ParamValue>& out) const {
    out.clear();
    for (const std::string& name : names) {
        const auto v = config.find(name);
        if (v == config.end()) return false;
        out.push_back(v->second);
    }
    return true;
}

bool SeenConfigs::contains(const ParamMap& config) const {
    std::vector<ParamValue> k;
    return key(config, k) && seen.count(k) > 0;
}

ParamMap unseen_config(const SearchSpace& space, const SeenConfigs& seen, ParamMap proposal, std::mt19937_64& rng) {
    if (!seen.contains(proposal)) return proposal;
    std::vector<std::vector<ParamValue>> grid;
    std::uint64_t size = 1;
    for (const ParamSpec& spec : space.specs) {
        grid.push_back(levels(spec.dist));
        size = grid.back().empty() ? kMaxEnumerated + 1 : std::min(size * grid.back().size(), kMaxEnumerated + 1);
    }
    if (size <= kMaxEnumerated) {
        std::vector<ParamMap> fresh;
        for (std::uint64_t n = 0; n < size; ++n) {
            ParamMap config = proposal;
            std::uint64_t rest = n;
            for (std::size_t j = 0; j < grid.size(); ++j) {
                config[space.specs[j].name] = grid[j][rest % grid[j].size()];
                rest /= grid[j].size();
            }
            if (!seen.contains(config)) fresh.push_back(std::move(config));
        }
        if (fresh.empty()) return proposal;
        return fresh[utils::bounded_draw(rng, fresh.size() - 1)];
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        ParamMap config = proposal;
        for (const ParamSpec& spec : space.specs) config[spec.name] = space.from_unit(spec.name, utils::unit_draw(rng));
        if (!seen.contains(config)) return config;
    }
    return proposal;
}

}  // namespace tarvex::detail
