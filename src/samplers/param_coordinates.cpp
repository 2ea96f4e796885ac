#include "param_coordinates.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <type_traits>

#include "tarvex/distributions.hpp"
#include "tarvex/random.hpp"

namespace tarvex::detail {
namespace {

bool log_scale(const Distribution& dist) {
    return std::visit(
        [](const auto& d) {
            if constexpr (std::is_same_v<std::decay_t<decltype(d)>, CategoricalDist>) {
                return false;
            } else {
                return d.log;
            }
        },
        dist);
}

}  // namespace

bool Coord::discrete() const {
    if (dim.categorical) return false;
    const auto* f = std::get_if<FloatDist>(&dist);
    return !f || f->step.has_value();
}

std::optional<Coord> coordinate(const std::string& name, const Distribution& dist) {
    try {
        validate_distribution(name, dist);
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
    if (only_value(dist)) return std::nullopt;
    Coord c{name, dist, {}};
    if (const auto* f = std::get_if<FloatDist>(&dist)) {
        if (f->log) {
            c.dim.low = std::log(f->low);
            c.dim.high = std::log(f->high);
        } else {
            const double half = f->step ? *f->step / 2 : 0.0;
            c.dim.low = f->low - half;
            c.dim.high = f->high + half;
        }
    } else if (const auto* i = std::get_if<IntDist>(&dist)) {
        if (i->log) {
            c.dim.low = std::log(i->low - 0.5);
            c.dim.high = std::log(i->high + 0.5);
        } else {
            c.dim.low = i->low - i->step / 2.0;
            c.dim.high = i->high + i->step / 2.0;
        }
    } else {
        c.dim.categorical = true;
        c.dim.n_choices = static_cast<int>(std::get<CategoricalDist>(dist).choices.size());
    }
    if (!(c.dim.low < c.dim.high) && !c.dim.categorical) return std::nullopt;
    return c;
}

std::optional<double> to_coord(const Coord& c, const ParamValue& v) {
    double x;
    if (c.dim.categorical) {
        const auto* s = std::get_if<std::string>(&v);
        if (!s) return std::nullopt;
        const auto& choices = std::get<CategoricalDist>(c.dist).choices;
        const auto it = std::find(choices.begin(), choices.end(), *s);
        if (it == choices.end()) return std::nullopt;
        return static_cast<double>(it - choices.begin());
    }
    if (const auto* f = std::get_if<double>(&v)) {
        x = *f;
    } else if (const auto* i = std::get_if<int>(&v)) {
        x = *i;
    } else {
        return std::nullopt;
    }
    if (log_scale(c.dist)) x = x > 0 ? std::log(x) : c.dim.low;
    if (!std::isfinite(x)) return std::nullopt;
    return std::clamp(x, c.dim.low, c.dim.high);
}

ParamValue from_coord(const Coord& c, double x) {
    if (c.dim.categorical) return std::get<CategoricalDist>(c.dist).choices[static_cast<std::size_t>(x)];
    if (const auto* f = std::get_if<FloatDist>(&c.dist)) {
        double v = f->log ? std::exp(x) : x;
        if (f->step) v = f->low + *f->step * std::round((v - f->low) / *f->step);
        return std::clamp(v, f->low, f->high);
    }
    const auto& i = std::get<IntDist>(c.dist);
    const std::int64_t low = i.low;
    std::int64_t v;
    if (i.log) {
        v = static_cast<std::int64_t>(std::round(std::exp(x)));
        v = std::clamp<std::int64_t>(v, i.low, i.high);
        v -= (v - low) % i.step;
    } else {
        v = low + i.step * static_cast<std::int64_t>(std::round((x - low) / i.step));
        while (v > i.high) v -= i.step;
        v = std::max<std::int64_t>(v, low);
    }
    return static_cast<int>(v);
}

double uniform_coord(const CoordRange& d, std::mt19937_64& rng) {
    if (d.categorical)
        return static_cast<double>(utils::bounded_draw(rng, static_cast<std::uint64_t>(d.n_choices - 1)));
    return d.low + (d.high - d.low) * utils::unit_draw(rng);
}

std::pair<std::optional<double>, std::optional<double>> value_edges(const Coord& c, double x) {
    const ParamValue v = from_coord(c, x);
    double value, half, lowest, highest;
    if (const auto* f = std::get_if<FloatDist>(&c.dist)) {
        value = std::get<double>(v);
        half = f->step.value_or(0.0) / 2;
        lowest = f->low;
        highest = f->high;
    } else {
        const auto& i = std::get<IntDist>(c.dist);
        value = std::get<int>(v);
        half = i.step / 2.0;
        lowest = i.low;
        highest = i.high;
    }
    const auto scaled = [&](double edge) { return log_scale(c.dist) ? std::log(edge) : edge; };
    std::pair<std::optional<double>, std::optional<double>> edges;
    if (value - 2 * half >= lowest - half / 2) edges.first = scaled(value - half);
    if (value + 2 * half <= highest + half / 2) edges.second = scaled(value + half);
    return edges;
}

}  // namespace tarvex::detail
