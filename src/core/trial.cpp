#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include "../common/plain_text.hpp"
#include "tarvex/study.hpp"

namespace tarvex {
namespace {

template <class T>
constexpr const char* call_of() {
    if constexpr (std::is_same_v<T, double>) return "suggest_float";
    if constexpr (std::is_same_v<T, int>) return "suggest_int";
    return "suggest_categorical";
}

const char* kind_of(const ParamValue& v) {
    switch (v.index()) {
        case 0:
            return "a float";
        case 1:
            return "an int";
        default:
            return "a text (categorical) value";
    }
}

}  // namespace

Trial::Trial(int trial_id_, int study_id_)
    : trial_id(trial_id_), study_id(study_id_), datetime_start(std::chrono::system_clock::now()) {}

double Trial::value() const {
    if (values.size() != 1) {
        throw std::runtime_error(
            "value() is only valid for single-objective trials; use values() for multi-objective.");
    }
    return values.front();
}

bool Trial::feasible() const { return constraints_met(constraints); }

bool constraints_met(const std::vector<double>& constraints) {
    return std::all_of(constraints.begin(), constraints.end(), [](double c) { return c <= 0.0; });
}

// A held name is answered from params whatever is asked now; a new name goes to the study,
// and its value and distribution are recorded even when the value is of another kind.
template <class T, class D>
T Trial::suggest(const std::string& name, D dist) {
    if (const auto held = params.find(name); held != params.end()) {
        if (const T* v = std::get_if<T>(&held->second)) return *v;
        throw ParamKindError(std::string(call_of<T>()) + "('" + detail::shown_text(name) + "'): '" +
                             detail::shown_text(name) + "' holds " + kind_of(held->second) + " in this trial.");
    }
    if (!suggest_hook) throw std::runtime_error("Trial is not attached to a Study.");
    Distribution recorded(std::move(dist));
    ParamValue v = suggest_hook(*this, name, recorded);
    auto& stored = params.insert_or_assign(name, std::move(v)).first->second;
    distributions.insert_or_assign(name, std::move(recorded));
    param_order.push_back(name);
    if (const T* out = std::get_if<T>(&stored)) return *out;
    throw ParamKindError(std::string(call_of<T>()) + "('" + detail::shown_text(name) + "'): the value fixed for '" +
                         detail::shown_text(name) + "' is " + kind_of(stored) + ".");
}

double Trial::suggest_float(const std::string& name, double low, double high, bool log, std::optional<double> step) {
    return suggest<double>(name, FloatDist{low, high, log, step});
}

int Trial::suggest_int(const std::string& name, int low, int high, bool log, int step) {
    return suggest<int>(name, IntDist{low, high, log, step});
}

std::string Trial::suggest_categorical(const std::string& name, std::vector<std::string> choices) {
    return suggest<std::string>(name, CategoricalDist{std::move(choices)});
}

// What the progress hook refuses (a database that cannot keep it) is not kept here either.
void Trial::report(double value, int step) {
    intermediate_values.emplace_back(step, value);
    if (!progress_hook) return;
    try {
        progress_hook(*this, TrialProgress::Report, std::string());
    } catch (...) {
        intermediate_values.pop_back();
        throw;
    }
}

Trial::OrderedParams Trial::ordered_params() const {
    OrderedParams out{{}, 0};
    out.params.reserve(params.size());
    // A few names are compared directly; many go through a set.
    std::unordered_set<std::string_view> taken;
    const bool many = params.size() > 16;
    const auto take = [&](const ParamMap::value_type& p) {
        const bool fresh =
            many ? taken.insert(p.first).second
                 : std::none_of(out.params.begin(), out.params.end(), [&](const auto* q) { return q == &p; });
        if (fresh) out.params.push_back(&p);
    };
    for (const std::string& name : param_order) {
        if (const auto it = params.find(name); it != params.end()) take(*it);
    }
    out.n_listed = out.params.size();
    if (out.n_listed != params.size()) {
        for (const auto& p : params) take(p);
    }
    return out;
}

bool Trial::should_prune() const { return prune_hook ? prune_hook(*this) : false; }

void Trial::set_user_attr(const std::string& key, const std::string& value) {
    detail::require_plain_text(key, "set_user_attr: the key");
    detail::require_plain_text(value, "set_user_attr('" + key + "'): the value");
    std::optional<std::string> before;
    if (const auto it = user_attrs.find(key); it != user_attrs.end()) before = it->second;
    user_attrs.insert_or_assign(key, value);
    if (!progress_hook) return;
    try {
        progress_hook(*this, TrialProgress::UserAttr, key);
    } catch (...) {
        if (before) {
            user_attrs.insert_or_assign(key, std::move(*before));
        } else {
            user_attrs.erase(key);
        }
        throw;
    }
}

std::string Trial::get_user_attr(const std::string& key) const {
    const auto it = user_attrs.find(key);
    if (it == user_attrs.end()) throw std::out_of_range("User attribute '" + key + "' not found.");
    return it->second;
}

}  // namespace tarvex
