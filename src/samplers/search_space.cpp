#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tarvex/samplers.hpp"

namespace tarvex {
namespace {

[[noreturn]] void invalid(const std::string& op, const std::string& name, const char* problem) {
    throw std::invalid_argument(op + "('" + name + "'): " + problem);
}

std::size_t choice_index(const CategoricalDist& d, const std::string& v, const char* op, const std::string& name) {
    const auto it = std::find(d.choices.begin(), d.choices.end(), v);
    if (it == d.choices.end()) {
        throw std::invalid_argument(std::string(op) + ": '" + v + "' not in choices for '" + name + "'.");
    }
    return static_cast<std::size_t>(it - d.choices.begin());
}

// Nearest integer with halves away from zero, as an int inside [low, high].
int clamp_to_int(double x, int low, int high) {
    const double r = std::round(x);
    if (!(r >= low)) return low;  // NaN lands on low
    if (r >= high) return high;
    return static_cast<int>(r);
}

// Bounds a few ulps apart can share one logarithm; such a range is encoded linearly, since
// a zero log span would divide 0 by 0.
bool on_log_scale(const FloatDist& d) { return d.log && std::log(d.low) < std::log(d.high); }

}  // namespace

void SearchSpace::append(const std::string& name, Distribution dist) {
    assert_unique(name);
    specs.push_back(ParamSpec{name, std::move(dist)});
    try {
        index.emplace(name, specs.size() - 1);
    } catch (...) {
        specs.pop_back();
        throw;
    }
}

void SearchSpace::add_float(const std::string& name, double low, double high, bool log, std::optional<double> step) {
    if (!(low < high)) invalid("add_float", name, "low must be < high.");
    // Infinite bounds have no unit-cube encoding.
    if (!std::isfinite(low) || !std::isfinite(high)) invalid("add_float", name, "bounds must be finite.");
    if (log && low <= 0) invalid("add_float", name, "log_scale requires low > 0.");
    if (step && !(*step > 0)) invalid("add_float", name, "step must be > 0.");
    append(name, FloatDist{low, high, log, step});
}

void SearchSpace::add_int(const std::string& name, int low, int high, bool log, int step) {
    if (low >= high) invalid("add_int", name, "low must be < high.");
    if (step < 1) invalid("add_int", name, "step must be > 0.");
    if (log && low <= 0) invalid("add_int", name, "log_scale requires low > 0.");
    append(name, IntDist{low, high, log, step});
}

void SearchSpace::add_categorical(const std::string& name, std::vector<std::string> choices) {
    if (choices.empty()) invalid("add_categorical", name, "choices must be non-empty.");
    append(name, CategoricalDist{std::move(choices)});
}

void SearchSpace::add(const std::string& name, const Distribution& dist) {
    std::visit(
        [&](const auto& d) {
            using D = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<D, FloatDist>) {
                add_float(name, d.low, d.high, d.log, d.step);
            } else if constexpr (std::is_same_v<D, IntDist>) {
                add_int(name, d.low, d.high, d.log, d.step);
            } else {
                add_categorical(name, d.choices);
            }
        },
        dist);
}

void SearchSpace::assert_unique(const std::string& name) const {
    if (has_param(name)) throw std::invalid_argument("Parameter '" + name + "' is already defined.");
}

bool SearchSpace::has_param(const std::string& name) const { return index.count(name) != 0; }

const ParamSpec& SearchSpace::get_param(const std::string& name) const {
    const auto it = index.find(name);
    if (it == index.end()) throw std::out_of_range("Parameter '" + name + "' not found in SearchSpace.");
    return specs[it->second];
}

int SearchSpace::unit_dim(const std::string& name) const {
    const auto* c = std::get_if<CategoricalDist>(&get_param(name).dist);
    return c ? static_cast<int>(c->choices.size()) : 1;
}

int SearchSpace::total_unit_dim() const {
    int total = 0;
    for (const ParamSpec& s : specs) {
        const auto* c = std::get_if<CategoricalDist>(&s.dist);
        total += c ? static_cast<int>(c->choices.size()) : 1;
    }
    return total;
}

double SearchSpace::to_unit(const std::string& name, const ParamValue& v) const {
    return std::visit(
        [&](const auto& d) -> double {
            using D = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<D, FloatDist>) {
                const double x = std::get<double>(v);
                if (on_log_scale(d)) return (std::log(x) - std::log(d.low)) / (std::log(d.high) - std::log(d.low));
                // Halved, a span wider than the largest double still divides.
                if (std::isinf(d.high - d.low)) return (0.5 * x - 0.5 * d.low) / (0.5 * d.high - 0.5 * d.low);
                return (x - d.low) / (d.high - d.low);
            } else if constexpr (std::is_same_v<D, IntDist>) {
                const int x = std::get<int>(v);
                if (d.log) {
                    const double a = std::log(static_cast<double>(d.low));
                    return (std::log(static_cast<double>(x)) - a) / (std::log(static_cast<double>(d.high)) - a);
                }
                // 64-bit differences: the full int range does not fit an int difference.
                return static_cast<double>(std::int64_t{x} - d.low) / static_cast<double>(std::int64_t{d.high} - d.low);
            } else {
                const std::size_t n = d.choices.size();
                const std::size_t i = choice_index(d, std::get<std::string>(v), "to_unit", name);
                return n == 1 ? 0.0 : static_cast<double>(i) / static_cast<double>(n - 1);
            }
        },
        get_param(name).dist);
}

Eigen::VectorXd SearchSpace::to_unit_block(const std::string& name, const ParamValue& v) const {
    const ParamSpec& spec = get_param(name);
    const auto* c = std::get_if<CategoricalDist>(&spec.dist);
    if (!c) return Eigen::VectorXd::Constant(1, to_unit(name, v));
    Eigen::VectorXd block = Eigen::VectorXd::Zero(static_cast<Eigen::Index>(c->choices.size()));
    block[static_cast<Eigen::Index>(choice_index(*c, std::get<std::string>(v), "to_unit_block", name))] = 1.0;
    return block;
}

ParamValue SearchSpace::from_unit(const std::string& name, double u) const {
    u = u >= 0.0 ? std::min(u, 1.0) : 0.0;  // NaN counts as 0
    return std::visit(
        [&](const auto& d) -> ParamValue {
            using D = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<D, FloatDist>) {
                // lerp cannot overflow and is exact at both ends; rounding may still step
                // outside [low, high], hence the clamp. An infinite step gives NaN: low.
                double x = on_log_scale(d) ? std::exp(std::lerp(std::log(d.low), std::log(d.high), u))
                                           : std::lerp(d.low, d.high, u);
                if (d.step) x = *d.step * std::round((x - d.low) / *d.step) + d.low;
                return x >= d.low ? std::min(x, d.high) : d.low;
            } else if constexpr (std::is_same_v<D, IntDist>) {
                const double a = std::log(static_cast<double>(d.low));
                const double x = d.log ? std::exp((std::log(static_cast<double>(d.high)) - a) * u + a)
                                       : static_cast<double>(std::int64_t{d.high} - d.low) * u + d.low;
                const std::int64_t r = clamp_to_int(x, d.low, d.high);
                const std::int64_t off = r - d.low;
                return static_cast<int>(d.low + off - (d.step > 0 ? off % d.step : 0));
            } else {
                const auto n = static_cast<int>(d.choices.size());
                const int i = clamp_to_int(static_cast<double>(n - 1) * u, 0, n - 1);
                return d.choices[static_cast<std::size_t>(i)];
            }
        },
        get_param(name).dist);
}

ParamValue SearchSpace::from_unit_block(const std::string& name, const Eigen::VectorXd& block) const {
    const ParamSpec& spec = get_param(name);
    const auto* c = std::get_if<CategoricalDist>(&spec.dist);
    if (!c) return from_unit(name, block.size() ? block[0] : 0.0);
    Eigen::Index best = 0;
    for (Eigen::Index i = 1; i < block.size(); ++i) {
        if (block[i] > block[best]) best = i;
    }
    const auto n = static_cast<Eigen::Index>(c->choices.size());
    return c->choices[static_cast<std::size_t>(std::clamp<Eigen::Index>(best, 0, n - 1))];
}

namespace {
bool is_plain_float(const Distribution& dist) {
    const auto* f = std::get_if<FloatDist>(&dist);
    return f && !f->step;
}
}  // namespace

void SearchSpace::snap(Eigen::Ref<Eigen::VectorXd> x) const {
    Eigen::Index c = 0;
    for (const ParamSpec& spec : specs) {
        if (const auto* cat = std::get_if<CategoricalDist>(&spec.dist)) {
            const auto k = static_cast<Eigen::Index>(cat->choices.size());
            Eigen::Index best = 0;
            for (Eigen::Index i = 1; i < k; ++i) {
                if (x[c + i] > x[c + best]) best = i;  // the first on ties, as decoding takes it
            }
            x.segment(c, k).setZero();
            x[c + best] = 1.0;
            c += k;
            continue;
        }
        const double u = x[c] >= 0.0 ? std::min(x[c], 1.0) : 0.0;  // NaN counts as 0
        x[c] = is_plain_float(spec.dist) ? u : to_unit(spec.name, from_unit(spec.name, u));
        ++c;
    }
}

Eigen::VectorXd SearchSpace::continuous_mask() const {
    Eigen::VectorXd mask(total_unit_dim());
    Eigen::Index c = 0;
    for (const ParamSpec& spec : specs) {
        const auto* cat = std::get_if<CategoricalDist>(&spec.dist);
        const Eigen::Index k = cat ? static_cast<Eigen::Index>(cat->choices.size()) : 1;
        mask.segment(c, k).setConstant(is_plain_float(spec.dist) ? 1.0 : 0.0);
        c += k;
    }
    return mask;
}

}  // namespace tarvex
