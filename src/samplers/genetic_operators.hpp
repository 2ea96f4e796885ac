// The variation operators of real-coded genetic algorithms, on coordinates in [low, high].
#pragma once

#include <random>
#include <utility>

namespace tarvex::detail {

// Simulated binary crossover (Deb and Agrawal 1995), bounded: two children spread around the
// parents as one-point crossover spreads bit strings, the more tightly the larger eta.
std::pair<double, double> sbx(double a, double b, double low, double high, double eta, std::mt19937_64& rng);

// Polynomial mutation (Deb and Goyal 1996), bounded: a move from x whose size has a polynomial
// density, the smaller the larger eta.
double polynomial_mutation(double x, double low, double high, double eta, std::mt19937_64& rng);

}  // namespace tarvex::detail
