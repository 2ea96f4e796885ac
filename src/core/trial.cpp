#include <stdexcept>

#include "tarvex/study.hpp"

namespace tarvex {

Trial::Trial(int trial_id_, int study_id_)
    : trial_id(trial_id_), study_id(study_id_), datetime_start(std::chrono::system_clock::now()) {}

double Trial::value() const {
    if (values.size() != 1) {
        throw std::runtime_error(
            "value() is only valid for single-objective trials; use values() for multi-objective.");
    }
    return values.front();
}

// A held name is answered from params whatever is asked now; a new name goes to the study,
// and its value and distribution are recorded even when the value is of another kind.
template <class T, class D>
T Trial::suggest(const std::string& name, D dist) {
    if (const auto held = params.find(name); held != params.end()) return std::get<T>(held->second);
    if (!suggest_hook) throw std::runtime_error("Trial is not attached to a Study.");
    Distribution recorded(std::move(dist));
    ParamValue v = suggest_hook(*this, name, recorded);
    auto& stored = params.insert_or_assign(name, std::move(v)).first->second;
    distributions.insert_or_assign(name, std::move(recorded));
    return std::get<T>(stored);
}

double Trial::suggest_float(const std::string& name, double low, double high, bool log,
                            std::optional<double> step) {
    return suggest<double>(name, FloatDist{low, high, log, step});
}

int Trial::suggest_int(const std::string& name, int low, int high, bool log, int step) {
    return suggest<int>(name, IntDist{low, high, log, step});
}

std::string Trial::suggest_categorical(const std::string& name, std::vector<std::string> choices) {
    return suggest<std::string>(name, CategoricalDist{std::move(choices)});
}

void Trial::report(double value, int step) { intermediate_values.emplace_back(step, value); }

bool Trial::should_prune() const { return prune_hook ? prune_hook(*this) : false; }

void Trial::set_user_attr(const std::string& key, const std::string& value) {
    user_attrs.insert_or_assign(key, value);
}

std::string Trial::get_user_attr(const std::string& key) const {
    const auto it = user_attrs.find(key);
    if (it == user_attrs.end()) throw std::out_of_range("User attribute '" + key + "' not found.");
    return it->second;
}

}  // namespace tarvex
