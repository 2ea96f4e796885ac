#include "tarvex/tpe_sampler.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "param_coordinates.hpp"
#include "parzen_estimator.hpp"
#include "seen_configs.hpp"
#include "tarvex/distributions.hpp"
#include "tarvex/random.hpp"
#include "tarvex/saved_state.hpp"
#include "tpe_study_state.hpp"
#include "trial_ranking.hpp"

namespace tarvex {
namespace {

using detail::Coord;
using detail::coordinate;
using detail::from_coord;
using detail::groups_of;
using detail::has_gap;
using detail::ParzenDim;
using detail::row_of;
using detail::to_coord;
using detail::TPEStudyState;
using Names = std::vector<std::string>;

// The others' density needs their spread, not every one of them: past this many, an even
// selection in rank order stands for them.
constexpr std::size_t kMaxBad = 400;

// One group's candidates, drawn from the good trials' density, best ratio to the others' first.
std::vector<std::vector<double>> group_candidates(const TPESamplerConfig& config, const std::vector<ParzenDim>& dims,
                                                  const std::vector<std::size_t>& cols,
                                                  const std::vector<const std::vector<double>*>& rows, bool flat,
                                                  std::mt19937_64& rng) {
    // The rows holding the whole group, in rank order; only those the densities use are copied.
    std::vector<const std::vector<double>*> holding;
    if (flat) {
        holding = rows;
    } else {
        for (const std::vector<double>* row : rows) {
            if (std::none_of(cols.begin(), cols.end(), [&](std::size_t j) { return std::isnan((*row)[j]); })) {
                holding.push_back(row);
            }
        }
    }
    if (holding.size() < 2) return {};
    const auto point = [&](std::size_t i) {
        std::vector<double> x;
        x.reserve(cols.size());
        for (const std::size_t j : cols) x.push_back((*holding[i])[j]);
        return x;
    };
    const int n = static_cast<int>(holding.size());
    const auto n_good = static_cast<std::size_t>(std::clamp(config.n_good(n), 1, n));
    std::vector<std::vector<double>> points, bad;
    for (std::size_t i = 0; i < n_good; ++i) points.push_back(point(i));
    const std::size_t n_bad = holding.size() - n_good;
    const std::size_t kept = std::min(n_bad, kMaxBad);
    for (std::size_t k = 0; k < kept; ++k) bad.push_back(point(n_good + k * n_bad / kept));
    const detail::ParzenEstimator good_density(dims, points, config.prior_weight);
    const detail::ParzenEstimator bad_density(dims, bad, config.prior_weight);
    std::vector<std::pair<double, std::vector<double>>> scored;
    for (int k = 0; k < config.n_ei_candidates; ++k) {
        std::vector<double> x = good_density.sample(rng);
        const double score = good_density.log_pdf(x) - bad_density.log_pdf(x);
        scored.emplace_back(score, std::move(x));
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::vector<double>> out;
    for (auto& sc : scored) out.push_back(std::move(sc.second));
    return out;
}

// The configuration of ranked that proposal repeats (holding the same value for each of its
// names), if any. rows are ranked's coordinates: a column where both hold different coordinates
// rules a configuration out without comparing its values by name.
const ParamMap* repeated(const ParamMap& proposal, const std::vector<detail::RankedConfig>& ranked,
                         const std::vector<const std::vector<double>*>& rows,
                         const std::vector<const Coord*>& columns) {
    const std::vector<double> own = row_of(columns, proposal);
    for (std::size_t i = 0; i < ranked.size(); ++i) {
        const std::vector<double>& row = *rows[i];
        bool differs = false;
        for (std::size_t j = 0; j < own.size() && !differs; ++j) {
            differs = !std::isnan(own[j]) && !std::isnan(row[j]) && own[j] != row[j];
        }
        if (differs) continue;
        const ParamMap* p = ranked[i].params;
        const bool same = std::all_of(p->begin(), p->end(), [&](const auto& kv) {
            const auto v = proposal.find(kv.first);
            return v != proposal.end() && v->second == kv.second;
        });
        if (same) return p;
    }
    return nullptr;
}

TPESamplerConfig validated(TPESamplerConfig config) {
    config.validate();
    return config;
}

}  // namespace

void TPESamplerConfig::validate() const {
    const auto require = [](bool ok, const char* field, const char* expected) {
        if (!ok) throw std::invalid_argument(std::string("TPESampler: ") + field + " must be " + expected + ".");
    };
    require(n_startup_trials >= 0, "n_startup_trials", "at least 0");
    require(n_ei_candidates >= 1, "n_ei_candidates", "at least 1");
    require(prior_weight > 0 && std::isfinite(prior_weight), "prior_weight", "a finite number above 0");
}

int TPESamplerConfig::n_good(int n) const {
    return gamma ? gamma(n) : std::min(static_cast<int>(std::ceil(0.1 * n)), 25);
}

TPESampler::TPESampler(TPESamplerConfig config_)
    : config(validated(std::move(config_))),
      rng(utils::make_generator(config.seed)),
      random(config.seed == 0 ? 0 : config.seed ^ 0x5851F42D4C957F2DULL) {}

ParamValue TPESampler::sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                          const Distribution& dist) {
    if (auto only = only_value(dist)) return std::move(*only);
    return random.sample_independent(study, trial, name, dist);
}

std::unique_ptr<SamplerState> TPESampler::make_state(const Study&) { return std::make_unique<TPEStudyState>(); }

ParamMap TPESampler::propose(const History& history, const Trial& trial, SamplerState* state) {
    TPEStudyState scratch;  // for a study that holds no state of this sampler
    auto* const held = dynamic_cast<TPEStudyState*>(state);
    TPEStudyState& memory = held ? *held : scratch;
    const auto [finished, pruned] = memory.update(history);
    // Startup trials are drawn at random, but as whole configurations here, so that they too are
    // kept from repeating one already tried.
    const bool startup = finished < static_cast<std::size_t>(config.n_startup_trials) || finished == 0;
    if (memory.newest.empty()) return {};
    const std::vector<detail::RankedConfig> ranked =
        detail::ranked_configurations(history, config.constant_liar, trial.trial_id, pruned > 0);

    // Every name with its newest distribution; one of a single value is that value.
    ParamMap proposal;
    std::map<std::string, Coord> coords;
    Names names;
    for (const auto& [name, newest] : memory.newest) {
        const Distribution& dist = newest.second;
        if (auto only = only_value(dist)) {
            proposal.emplace(name, std::move(*only));
        } else if (auto c = coordinate(name, dist)) {
            coords.emplace(name, std::move(*c));
            names.push_back(name);
        }
    }
    std::vector<const Coord*> columns;
    for (const std::string& name : names) columns.push_back(&coords.at(name));
    std::vector<std::vector<double>> pending_rows;
    pending_rows.reserve(ranked.size());
    std::vector<const std::vector<double>*> rows;
    for (const detail::RankedConfig& r : ranked) {
        if (r.trial_id < 0) {
            rows.push_back(&pending_rows.emplace_back(row_of(columns, *r.params)));
            continue;
        }
        rows.push_back(&memory.row(r.trial_id, columns, *r.params));
    }
    const bool flat = memory.rows_with_gaps == 0 && std::none_of(pending_rows.begin(), pending_rows.end(),
                                                                 [](const auto& row) { return has_gap(row); });
    std::vector<std::vector<std::size_t>> groups;
    if (config.multivariate) {
        groups = groups_of(rows, columns.size(), flat);
    } else {
        for (std::size_t j = 0; j < columns.size(); ++j) groups.push_back({j});
    }

    const std::scoped_lock lock(mutex);
    std::vector<std::vector<std::vector<double>>> candidates(groups.size());
    const auto place = [&](std::size_t g, std::size_t k) {
        for (std::size_t j = 0; j < groups[g].size(); ++j) {
            const Coord& c = *columns[groups[g][j]];
            proposal[c.name] = from_coord(c, candidates[g][k][j]);
        }
    };
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::vector<ParzenDim> dims;
        for (const std::size_t j : groups[g]) dims.push_back(columns[j]->dim);
        if (!startup) candidates[g] = group_candidates(config, dims, groups[g], rows, flat, rng);
        if (!candidates[g].empty()) {
            place(g, 0);
            continue;
        }
        // Too few trials for a density (or startup): uniform values, so that the whole
        // configuration is known to the check for repeats below.
        for (const std::size_t j : groups[g]) {
            const Coord& c = *columns[j];
            proposal[c.name] = from_coord(c, detail::uniform_coord(c.dim, rng));
        }
    }

    // A proposal that repeats a tried configuration moves, in the most specific group of that
    // configuration (held by the fewest trials: the deepest branch, not the choice leading to it),
    // to its next candidate; past the candidates, to an untried configuration of that group, then
    // of the whole configuration.
    std::vector<std::size_t> holders(groups.size(), 0);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (flat) {
            holders[g] = rows.size();
            continue;
        }
        for (const auto* row : rows) holders[g] += !std::isnan((*row)[groups[g].front()]);
    }
    std::vector<std::size_t> next(groups.size(), 1);
    for (int attempt = 0; attempt < 4 * config.n_ei_candidates; ++attempt) {
        const ParamMap* twin = repeated(proposal, ranked, rows, columns);
        if (!twin) return proposal;
        Names same;
        for (const auto& [name, value] : *twin) same.push_back(name);
        std::sort(same.begin(), same.end());
        std::optional<std::size_t> deepest, pick;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const bool inside = std::all_of(groups[g].begin(), groups[g].end(), [&](std::size_t j) {
                return std::binary_search(same.begin(), same.end(), columns[j]->name);
            });
            if (!inside) continue;
            if (!deepest || holders[g] < holders[*deepest]) deepest = g;
            if (next[g] < candidates[g].size() && (!pick || holders[g] < holders[*pick])) pick = g;
        }
        const detail::SeenConfigs seen(same, history);
        const auto redraw = [&](const std::vector<std::string>& names_to_draw) {
            SearchSpace space;
            for (const std::string& name : names_to_draw) {
                if (const auto c = coords.find(name); c != coords.end()) space.add(name, c->second.dist);
            }
            return detail::unseen_config(space, seen, proposal, rng);
        };
        if (deepest && pick != deepest) {
            Names inner;
            for (const std::size_t j : groups[*deepest]) inner.push_back(columns[j]->name);
            ParamMap moved = redraw(inner);
            if (!seen.contains(moved)) return moved;
        }
        if (!pick) return redraw(same);
        place(*pick, next[*pick]++);
    }
    const ParamMap* twin = repeated(proposal, ranked, rows, columns);
    if (!twin) return proposal;
    SearchSpace space;
    Names same;
    for (const auto& [name, value] : *twin) {
        same.push_back(name);
        if (const auto c = coords.find(name); c != coords.end()) space.add(name, c->second.dist);
    }
    return detail::unseen_config(space, detail::SeenConfigs(same, history), std::move(proposal), rng);
}

std::string TPESampler::saved_state() const {
    const std::scoped_lock lock(mutex);
    return utils::StateWriter().add(rng).add(random.saved_state()).text();
}

void TPESampler::restore_state(const std::string& text) {
    utils::StateReader reader(text);
    std::mt19937_64 restored = reader.generator();
    const std::string startup = reader.piece();
    reader.finish();
    const std::scoped_lock lock(mutex);
    random.restore_state(startup);
    rng = restored;
}

}  // namespace tarvex
