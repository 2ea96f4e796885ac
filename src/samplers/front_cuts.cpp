#include "front_cuts.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <queue>

#include "tarvex/hypervolume.hpp"
#include "tarvex/random.hpp"

namespace tarvex::detail {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

// The members of the last front that NSGA-III keeps: k of them, each time from the reference
// direction with the fewest survivors so far (ties at random), its member nearest to it when it
// has none yet, else a random one.
std::vector<std::size_t> niched(const std::vector<Individual>& population, const std::vector<std::size_t>& kept,
                                const std::vector<std::size_t>& last, std::size_t k,
                                const std::vector<std::vector<double>>& directions, std::mt19937_64& rng) {
    const std::size_t m = population[last.front()].objectives.size();
    // Normalised by the ideal point and the extent of the candidates (a simplified nadir).
    std::vector<double> ideal(m, kInf), nadir(m, -kInf);
    for (const auto* group : {&kept, &last}) {
        for (const std::size_t i : *group) {
            for (std::size_t d = 0; d < m; ++d) {
                ideal[d] = std::min(ideal[d], population[i].objectives[d]);
                nadir[d] = std::max(nadir[d], population[i].objectives[d]);
            }
        }
    }
    const auto associate = [&](std::size_t i) {
        std::vector<double> f(m);
        for (std::size_t d = 0; d < m; ++d) {
            const double extent = nadir[d] - ideal[d];
            f[d] = extent > 0 ? (population[i].objectives[d] - ideal[d]) / extent : 0.0;
        }
        std::size_t best = 0;
        double best_distance = kInf;
        for (std::size_t r = 0; r < directions.size(); ++r) {
            const auto& w = directions[r];
            const double ww = std::inner_product(w.begin(), w.end(), w.begin(), 0.0);
            const double t = std::inner_product(f.begin(), f.end(), w.begin(), 0.0) / ww;
            double distance = 0;
            for (std::size_t d = 0; d < m; ++d) distance += (f[d] - t * w[d]) * (f[d] - t * w[d]);
            if (distance < best_distance) {
                best_distance = distance;
                best = r;
            }
        }
        return std::pair{best, best_distance};
    };
    std::vector<int> count(directions.size(), 0);
    for (const std::size_t i : kept) ++count[associate(i).first];
    std::vector<std::vector<std::pair<double, std::size_t>>> candidates(directions.size());
    for (const std::size_t i : last) {
        const auto [r, distance] = associate(i);
        candidates[r].emplace_back(distance, i);
    }
    for (auto& c : candidates) std::sort(c.begin(), c.end());
    std::vector<std::size_t> chosen;
    std::vector<bool> open(directions.size(), true);
    while (chosen.size() < k) {
        int fewest = std::numeric_limits<int>::max();
        std::vector<std::size_t> least;
        for (std::size_t r = 0; r < directions.size(); ++r) {
            if (!open[r]) continue;
            if (count[r] < fewest) {
                fewest = count[r];
                least.clear();
            }
            if (count[r] == fewest) least.push_back(r);
        }
        const std::size_t r = least[utils::bounded_draw(rng, least.size() - 1)];
        auto& c = candidates[r];
        if (c.empty()) {
            open[r] = false;
            continue;
        }
        const std::size_t at = count[r] == 0 ? 0 : utils::bounded_draw(rng, c.size() - 1);
        chosen.push_back(c[at].second);
        c.erase(c.begin() + static_cast<std::ptrdiff_t>(at));
        ++count[r];
    }
    return chosen;
}

// The k members of front (positions into it) that keep the most hypervolume: the one adding the
// least is dropped, one at a time (as SMS-EMOA does), in objectives scaled to the front's range
// with the reference a tenth beyond its worst point, which values the ends of a front of tens of
// points above its interior.
std::vector<std::size_t> by_contribution(const std::vector<Individual>& population,
                                         const std::vector<std::size_t>& front, std::size_t k) {
    const std::size_t m = population[front.front()].objectives.size();
    std::vector<double> low(m, kInf), high(m, -kInf);
    for (const std::size_t i : front) {
        for (std::size_t d = 0; d < m; ++d) {
            low[d] = std::min(low[d], population[i].objectives[d]);
            high[d] = std::max(high[d], population[i].objectives[d]);
        }
    }
    std::vector<std::vector<double>> points;
    for (const std::size_t i : front) {
        std::vector<double> p(m);
        for (std::size_t d = 0; d < m; ++d) {
            const double extent = high[d] - low[d];
            p[d] = extent > 0 ? (population[i].objectives[d] - low[d]) / extent : 0.0;
        }
        points.push_back(std::move(p));
    }
    const std::vector<double> reference(m, 1.1);
    // Removing a member never lowers another's contribution, so a contribution computed earlier is
    // a lower bound: the member with the lowest bound is recomputed, and dropped when it is still
    // the lowest (lazy greedy), which spares recomputing every contribution at each step.
    std::vector<bool> gone(points.size(), false);
    const auto contribution = [&](std::size_t i) {
        std::vector<std::vector<double>> all, others;
        for (std::size_t j = 0; j < points.size(); ++j) {
            if (gone[j]) continue;
            all.push_back(points[j]);
            if (j != i) others.push_back(points[j]);
        }
        return hypervolume(all, reference) - hypervolume(others, reference);
    };
    using Bound = std::pair<double, std::size_t>;
    std::priority_queue<Bound, std::vector<Bound>, std::greater<>> bounds;
    std::vector<std::size_t> stamp(points.size(), 0);  // the number of removals when each bound was computed
    for (std::size_t i = 0; i < points.size(); ++i) bounds.emplace(contribution(i), i);
    std::size_t removed = 0;
    while (points.size() - removed > k) {
        const auto [bound, i] = bounds.top();
        bounds.pop();
        if (stamp[i] == removed) {
            gone[i] = true;
            ++removed;
            continue;
        }
        stamp[i] = removed;
        bounds.emplace(contribution(i), i);
    }
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!gone[i]) kept.push_back(i);
    }
    return kept;
}

std::vector<std::vector<double>> simplex_directions(std::size_t m, int divisions) {
    std::vector<std::vector<double>> out;
    std::vector<int> parts(m, 0);
    // Every way of writing divisions as an ordered sum of m non-negative parts.
    const auto fill = [&](auto& self, std::size_t d, int left) -> void {
        if (d + 1 == m) {
            parts[d] = left;
            std::vector<double> w(m);
            for (std::size_t k = 0; k < m; ++k) w[k] = static_cast<double>(parts[k]) / divisions;
            out.push_back(std::move(w));
            return;
        }
        for (int p = 0; p <= left; ++p) {
            parts[d] = p;
            self(self, d + 1, left - p);
        }
    };
    fill(fill, 0, divisions);
    return out;
}

}  // namespace tarvex::detail
