#include "nsga_selection.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "front_cuts.hpp"

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

}  // namespace tarvex::detail
