#include "genetic_operators.hpp"

#include <algorithm>
#include <cmath>

#include "tarvex/random.hpp"

namespace tarvex::detail {
namespace {

// The spread factor for a draw u, given how far the nearer bound lets a child go (alpha).
double spread(double u, double alpha, double eta) {
    const double power = 1.0 / (eta + 1.0);
    return u <= 1.0 / alpha ? std::pow(u * alpha, power) : std::pow(1.0 / (2.0 - u * alpha), power);
}

}  // namespace

std::pair<double, double> sbx(double a, double b, double low, double high, double eta, std::mt19937_64& rng) {
    const double y1 = std::min(a, b), y2 = std::max(a, b);
    if (y2 - y1 < 1e-14 || !(high > low)) return {a, b};
    const double u = utils::unit_draw(rng);
    const double d = y2 - y1;
    const double beta_low = 1.0 + 2.0 * (y1 - low) / d;
    const double c1 = 0.5 * (y1 + y2 - spread(u, 2.0 - std::pow(beta_low, -(eta + 1.0)), eta) * d);
    const double beta_high = 1.0 + 2.0 * (high - y2) / d;
    const double c2 = 0.5 * (y1 + y2 + spread(u, 2.0 - std::pow(beta_high, -(eta + 1.0)), eta) * d);
    const auto inside = [&](double c) { return std::clamp(c, low, high); };
    // Which child sits on which parent's side is a coin toss.
    if (utils::unit_draw(rng) < 0.5) return {inside(c2), inside(c1)};
    return {inside(c1), inside(c2)};
}

double polynomial_mutation(double x, double low, double high, double eta, std::mt19937_64& rng) {
    const double range = high - low;
    if (!(range > 0)) return x;
    const double d1 = (x - low) / range, d2 = (high - x) / range;
    const double power = 1.0 / (eta + 1.0);
    const double u = utils::unit_draw(rng);
    double dq = 0;
    if (u < 0.5) {
        const double v = 2.0 * u + (1.0 - 2.0 * u) * std::pow(1.0 - d1, eta + 1.0);
        dq = std::pow(v, power) - 1.0;
    } else {
        const double v = 2.0 * (1.0 - u) + 2.0 * (u - 0.5) * std::pow(1.0 - d2, eta + 1.0);
        dq = 1.0 - std::pow(v, power);
    }
    return std::clamp(x + dq * range, low, high);
}

}  // namespace tarvex::detail
