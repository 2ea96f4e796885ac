#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "../common/rejection.hpp"

#include "tarvex/distributions.hpp"

namespace tarvex {
namespace {

template <class T>
std::string number(T v) {
    if constexpr (std::is_same_v<T, int>) {
        return std::to_string(v);
    } else {
        return detail::shown_number(v);
    }
}

}  // namespace

const char* suggest_call(const Distribution& dist) {
    return dist.index() == 0 ? "suggest_float" : dist.index() == 1 ? "suggest_int" : "suggest_categorical";
}

void validate_distribution(const std::string& name, const Distribution& dist) {
    // Checked first, described only on failure: every suggestion passes through here.
    const auto fail = [&](const std::string& what) {
        throw std::invalid_argument(std::string(suggest_call(dist)) + "('" + name + "'): " + what + ".");
    };
    std::visit(
        [&](const auto& d) {
            using D = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<D, CategoricalDist>) {
                if (d.choices.empty()) fail("choices must not be empty");
            } else {
                const auto bounds = [&] { return "low=" + number(d.low) + " and high=" + number(d.high); };
                if constexpr (std::is_same_v<D, FloatDist>) {
                    if (!std::isfinite(d.low) || !std::isfinite(d.high)) {
                        fail("low and high must be finite, got " + bounds());
                    }
                    if (d.step && !(*d.step > 0 && std::isfinite(*d.step))) {
                        fail("step must be a finite number above 0, got " + number(*d.step));
                    }
                } else if (d.step <= 0) {
                    fail("step must be at least 1, got " + number(d.step));
                }
                if (d.low > d.high) fail("low must be <= high, got " + bounds());
                if (d.log && d.low <= 0) fail("low must be above 0 on a log scale (log=True), got " + bounds());
            }
        },
        dist);
}

bool can_produce(const Distribution& dist, const ParamValue& v) {
    if (const auto* f = std::get_if<FloatDist>(&dist)) {
        const double* x = std::get_if<double>(&v);
        return x && f->low <= *x && *x <= f->high;
    }
    if (const auto* i = std::get_if<IntDist>(&dist)) {
        const int* x = std::get_if<int>(&v);
        return x && i->low <= *x && *x <= i->high &&
               (i->log || (i->step > 0 && (std::int64_t{*x} - i->low) % i->step == 0));
    }
    const auto& choices = std::get<CategoricalDist>(dist).choices;
    const std::string* x = std::get_if<std::string>(&v);
    return x && std::find(choices.begin(), choices.end(), *x) != choices.end();
}

std::optional<double> number_in(const ParamValue& v) {
    if (const auto* x = std::get_if<double>(&v)) return *x;
    if (const auto* i = std::get_if<int>(&v)) return *i;
    const std::string& text = std::get<std::string>(v);
    double read = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), read);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return read;
}

std::optional<ParamValue> produced(const Distribution& dist, const ParamValue& v) {
    if (can_produce(dist, v)) return v;
    if (v.index() == 2) return std::nullopt;
    const double number = *number_in(v);
    if (!std::holds_alternative<CategoricalDist>(dist)) {
        // The other kind of number, where nothing is lost.
        ParamValue other = number;
        if (std::holds_alternative<IntDist>(dist)) {
            const bool whole = number == std::trunc(number) && number >= std::numeric_limits<int>::min() &&
                               number <= std::numeric_limits<int>::max();
            if (!whole) return std::nullopt;
            other = static_cast<int>(number);
        }
        return can_produce(dist, other) ? std::optional(std::move(other)) : std::nullopt;
    }
    const auto& choices = std::get<CategoricalDist>(dist).choices;
    if (v.index() == 1) {
        const std::string text = std::to_string(std::get<int>(v));
        if (std::find(choices.begin(), choices.end(), text) != choices.end()) return text;
    }
    for (const std::string& choice : choices) {
        if (number_in(choice) == number) return choice;
    }
    return std::nullopt;
}

bool may_produce(const ParamValue& proposed, const ParamValue& held) {
    if (proposed == held) return true;
    // A text is given only as itself; a number as either kind of number or as a choice reading as it.
    return proposed.index() != 2 && number_in(held) == number_in(proposed);
}

std::optional<ParamValue> only_value(const Distribution& dist) {
    // Only for a distribution that is otherwise sound: a bad step or log bound is still refused.
    if (const auto* f = std::get_if<FloatDist>(&dist);
        f && f->low == f->high && std::isfinite(f->low) && (!f->log || f->low > 0) && (!f->step || *f->step > 0)) {
        return f->low;
    }
    if (const auto* i = std::get_if<IntDist>(&dist);
        i && i->low == i->high && i->step >= 1 && (!i->log || i->low > 0)) {
        return i->low;
    }
    return std::nullopt;
}

}  // namespace tarvex
