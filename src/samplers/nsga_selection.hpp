// Survival and parent choice of the NSGA family, over individuals given by their objective
// values (every objective minimised) and their total constraint violation.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

namespace tarvex::detail {

struct Individual {
    std::vector<double> objectives;  // minimised
    double violation = 0;            // the sum of the positive constraint values; 0: feasible
};

// a constrained-dominates b (Deb 2000): a feasible a beats an infeasible b; of two infeasible, the
// smaller violation wins; of two feasible, Pareto dominance.
bool constrained_dominates(const Individual& a, const Individual& b);

// Where each individual stands after selection: its front (0 the best) and its crowding distance
// in that front (infinite at the front's ends).
struct Standing {
    int rank = 0;
    double crowding = 0;
};

// The fronts of constrained domination: feasible individuals by Pareto fronts, then infeasible
// ones, each violation level a front of its own. Indices into population, front by front.
std::vector<std::vector<std::size_t>> constrained_fronts(const std::vector<Individual>& population);

// The crowding distance of each member of front, in front's order.
std::vector<double> crowding_distances(const std::vector<Individual>& population,
                                       const std::vector<std::size_t>& front);

// How the front that does not fit whole is cut: by crowding distance (NSGA-II), by each member's
// hypervolume contribution (SMS-EMOA's rule; two and three objectives, crowding beyond), or by
// niching around reference directions (NSGA-III). Infeasible fronts are cut by crowding.
enum class FrontCut { Crowding, Hypervolume, ReferencePoints };

// The indices of the n survivors of population, whole fronts first, the last one cut as cut says.
// standings gets each survivor's rank and crowding, by the returned order.
std::vector<std::size_t> survivors(const std::vector<Individual>& population, std::size_t n, FrontCut cut,
                                   const std::vector<std::vector<double>>* reference_directions,
                                   std::vector<Standing>& standings, std::mt19937_64& rng);

// Das and Dennis's structured points on the unit simplex of m objectives with p divisions:
// C(m + p - 1, p) directions.
std::vector<std::vector<double>> simplex_directions(std::size_t m, int divisions);

}  // namespace tarvex::detail
