#include "nsga_selection.hpp"

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

bool pareto_dominates(const std::vector<double>& a, const std::vector<double>& b) {
    bool better = false;
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k] > b[k]) return false;
        better = better || a[k] < b[k];
    }
    return better;
}

// Fast non-dominated sorting (Deb et al. 2002) of the given members.
std::vector<std::vector<std::size_t>> pareto_fronts(const std::vector<Individual>& population,
                                                    const std::vector<std::size_t>& members) {
    const std::size_t n = members.size();
    std::vector<std::vector<std::size_t>> beats(n);
    std::vector<int> beaten(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            const auto& a = population[members[i]].objectives;
            const auto& b = population[members[j]].objectives;
            if (pareto_dominates(a, b)) {
                beats[i].push_back(j);
                ++beaten[j];
            } else if (pareto_dominates(b, a)) {
                beats[j].push_back(i);
                ++beaten[i];
            }
        }
    }
    std::vector<std::vector<std::size_t>> fronts;
    std::vector<std::size_t> current;
    for (std::size_t i = 0; i < n; ++i) {
        if (beaten[i] == 0) current.push_back(i);
    }
    while (!current.empty()) {
        std::vector<std::size_t> next;
        for (const std::size_t i : current) {
            for (const std::size_t j : beats[i]) {
                if (--beaten[j] == 0) next.push_back(j);
            }
        }
        std::vector<std::size_t> front;
        for (const std::size_t i : current) front.push_back(members[i]);
        std::sort(front.begin(), front.end());
        fronts.push_back(std::move(front));
        std::sort(next.begin(), next.end());
        current = std::move(next);
    }
    return fronts;
}

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

}  // namespace

bool constrained_dominates(const Individual& a, const Individual& b) {
    if (a.violation > 0 || b.violation > 0) return a.violation < b.violation;
    return pareto_dominates(a.objectives, b.objectives);
}

std::vector<std::vector<std::size_t>> constrained_fronts(const std::vector<Individual>& population) {
    std::vector<std::size_t> feasible, infeasible;
    for (std::size_t i = 0; i < population.size(); ++i) {
        (population[i].violation > 0 ? infeasible : feasible).push_back(i);
    }
    std::vector<std::vector<std::size_t>> fronts = pareto_fronts(population, feasible);
    std::stable_sort(infeasible.begin(), infeasible.end(),
                     [&](std::size_t a, std::size_t b) { return population[a].violation < population[b].violation; });
    for (std::size_t i = 0; i < infeasible.size(); ++i) {
        if (i == 0 || population[infeasible[i]].violation != population[infeasible[i - 1]].violation) {
            fronts.emplace_back();
        }
        fronts.back().push_back(infeasible[i]);
    }
    return fronts;
}

std::vector<double> crowding_distances(const std::vector<Individual>& population,
                                       const std::vector<std::size_t>& front) {
    // A point equal to one before it in the front adds no spread: distance 0, so that copies are
    // the first to go.
    std::vector<std::size_t> unique;
    std::vector<bool> copy(front.size(), false);
    {
        std::vector<std::size_t> order(front.size());
        std::iota(order.begin(), order.end(), 0);
        const auto f = [&](std::size_t i) -> const std::vector<double>& { return population[front[i]].objectives; };
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return f(a) < f(b); });
        for (std::size_t k = 0; k < order.size(); ++k) {
            copy[order[k]] = k > 0 && f(order[k]) == f(order[k - 1]);
            if (!copy[order[k]]) unique.push_back(order[k]);
        }
    }
    std::vector<double> distance(front.size(), 0.0);
    const std::size_t n = unique.size();
    if (n <= 2) {
        for (const std::size_t i : unique) distance[i] = kInf;
        return distance;
    }
    std::vector<std::size_t> order(n);
    for (std::size_t d = 0; d < population[front.front()].objectives.size(); ++d) {
        std::iota(order.begin(), order.end(), 0);
        const auto value = [&](std::size_t k) { return population[front[unique[k]]].objectives[d]; };
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return value(a) < value(b); });
        const double extent = value(order.back()) - value(order.front());
        distance[unique[order.front()]] = distance[unique[order.back()]] = kInf;
        if (!(extent > 0)) continue;
        for (std::size_t k = 1; k + 1 < n; ++k) {
            distance[unique[order[k]]] += (value(order[k + 1]) - value(order[k - 1])) / extent;
        }
    }
    return distance;
}

std::vector<std::size_t> survivors(const std::vector<Individual>& population, std::size_t n, FrontCut cut,
                                   const std::vector<std::vector<double>>* reference_directions,
                                   std::vector<Standing>& standings, std::mt19937_64& rng) {
    std::vector<std::size_t> out;
    standings.clear();
    const auto fronts = constrained_fronts(population);
    for (std::size_t rank = 0; rank < fronts.size() && out.size() < n; ++rank) {
        const auto& front = fronts[rank];
        const std::vector<double> crowding = crowding_distances(population, front);
        std::vector<std::size_t> order(front.size());
        std::iota(order.begin(), order.end(), 0);
        if (out.size() + front.size() > n) {
            const bool feasible_front = population[front.front()].violation == 0;
            if (cut == FrontCut::Hypervolume && feasible_front && population[front.front()].objectives.size() <= 3) {
                order = by_contribution(population, front, n - out.size());
            } else if (cut == FrontCut::ReferencePoints && reference_directions && feasible_front) {
                std::vector<std::size_t> chosen =
                    niched(population, out, front, n - out.size(), *reference_directions, rng);
                for (const std::size_t i : chosen) {
                    const auto at = static_cast<std::size_t>(std::find(front.begin(), front.end(), i) - front.begin());
                    out.push_back(i);
                    standings.push_back({static_cast<int>(rank), crowding[at]});
                }
                break;
            } else {
                std::shuffle(order.begin(), order.end(), rng);  // ties at random
                std::stable_sort(order.begin(), order.end(),
                                 [&](std::size_t a, std::size_t b) { return crowding[a] > crowding[b]; });
                order.resize(n - out.size());
            }
        }
        for (const std::size_t k : order) {
            out.push_back(front[k]);
            standings.push_back({static_cast<int>(rank), crowding[k]});
        }
    }
    return out;
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
