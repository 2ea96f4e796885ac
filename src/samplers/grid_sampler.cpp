#include "tarvex/grid_sampler.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "tarvex/distributions.hpp"
#include "tarvex/random.hpp"

namespace tarvex {
namespace {

struct GridState : SamplerState {
    std::atomic<bool> exhausted{false};
};

// The first two positions of values a trial cannot tell apart (1 and 1.0, or 16 and the text
// "16" a categorical holds): one of their points would never be seen as taken, and the run would
// never end. In n log n, for grids of many values.
std::optional<std::pair<std::size_t, std::size_t>> repeated(const std::vector<ParamValue>& values) {
    std::map<double, std::size_t> numbers, numeric_texts;
    std::map<std::string, std::size_t> texts;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto* text = std::get_if<std::string>(&values[i]);
        if (text) {
            if (const auto [at, added] = texts.emplace(*text, i); !added) return std::pair{at->second, i};
        }
        const auto x = number_in(values[i]);
        if (!x || std::isnan(*x)) continue;
        // A number is the same as an earlier number or a text that reads as it; a text, as an
        // earlier number only (two texts differ unless they are the same text).
        if (const auto at = numbers.find(*x); at != numbers.end()) return std::pair{at->second, i};
        if (const auto at = numeric_texts.find(*x); !text && at != numeric_texts.end()) return std::pair{at->second, i};
        (text ? numeric_texts : numbers).emplace(*x, i);
    }
    return std::nullopt;
}

std::vector<std::uint32_t> shuffled(const std::map<std::string, std::vector<ParamValue>>& grid, std::uint64_t seed) {
    if (grid.empty()) throw std::invalid_argument("GridSampler: the grid must hold at least one name.");
    std::uint64_t n = 1;
    for (const auto& [name, values] : grid) {
        if (values.empty()) throw std::invalid_argument("GridSampler: the grid's name '" + name + "' has no values.");
        if (const auto twice = repeated(values)) {
            throw std::invalid_argument("GridSampler: the grid's name '" + name +
                                        "' holds one value twice, at positions " + std::to_string(twice->first) +
                                        " and " + std::to_string(twice->second) + ".");
        }
        n *= values.size();
        if (n > (std::uint64_t{1} << 31))
            throw std::invalid_argument("GridSampler: the grid has more than 2^31 points.");
    }
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::mt19937_64 rng = utils::make_generator(seed);
    for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[utils::bounded_draw(rng, i - 1)]);
    return order;
}

}  // namespace

GridSampler::GridSampler(std::map<std::string, std::vector<ParamValue>> grid_, std::uint64_t seed)
    : grid(std::move(grid_)), order(shuffled(grid, seed)) {}

std::unique_ptr<SamplerState> GridSampler::make_state(const Study&) { return std::make_unique<GridState>(); }

bool GridSampler::exhausted(const SamplerState* state) const {
    const auto* s = dynamic_cast<const GridState*>(state);
    return s && s->exhausted.load();
}

ParamMap GridSampler::point(std::size_t index) const {
    ParamMap out;
    for (const auto& [name, values] : grid) {
        out.emplace(name, values[index % values.size()]);
        index /= values.size();
    }
    return out;
}

std::optional<std::size_t> GridSampler::index_of(const ParamMap& config) const {
    std::size_t index = 0, scale = 1;
    for (const auto& [name, values] : grid) {
        const auto v = config.find(name);
        if (v == config.end()) return std::nullopt;
        // The trial holds the value as the suggest call gave it: 1.0 for a grid's 1, "16" for 16.
        const auto at =
            std::find_if(values.begin(), values.end(), [&](const ParamValue& g) { return may_produce(g, v->second); });
        if (at == values.end()) return std::nullopt;
        index += scale * static_cast<std::size_t>(at - values.begin());
        scale *= values.size();
    }
    return index;
}

ParamMap GridSampler::propose(const History& history, const Trial& trial, SamplerState* state) {
    std::unordered_set<std::size_t> taken;
    for (const auto& [id, t] : history.trials) {
        if (id == trial.trial_id) continue;
        if (const auto i = index_of(t->params)) taken.insert(*i);
    }
    for (const ParamMap* p : history.pending) {
        if (const auto i = index_of(*p)) taken.insert(*i);
    }
    const std::size_t n = order.size();
    const auto start = static_cast<std::size_t>(trial.trial_id) % n;
    std::size_t chosen = order[start];
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t candidate = order[(start + k) % n];
        if (!taken.count(candidate)) {
            chosen = candidate;
            break;
        }
    }
    taken.insert(chosen);
    if (auto* s = dynamic_cast<GridState*>(state); s && taken.size() >= n) s->exhausted.store(true);
    return point(chosen);
}

ParamValue GridSampler::sample_independent(const Study&, const Trial&, const std::string& name,
                                           const Distribution& dist) {
    const std::string call = std::string(suggest_call(dist)) + "('" + name + "')";
    if (!grid.count(name)) {
        std::string names;
        for (const auto& [n, values] : grid) names += (names.empty() ? "" : ", ") + n;
        throw std::invalid_argument("GridSampler: " + call +
                                    " asks for a name the grid does not hold; its names: " + names + ".");
    }
    throw std::invalid_argument("GridSampler: the grid's value for '" + name + "' is not one that " + call +
                                " can take.");
}

}  // namespace tarvex
