#include <pybind11/chrono.h>
#include <pybind11/stl.h>

#include <optional>
#include <stdexcept>
#include <type_traits>
#include <variant>

#include "bindings.hpp"

namespace tarvex::python {

void bind_enums(py::module_& m) {
    py::enum_<TrialState>(m, "TrialState", "Running, then Complete, Pruned or Failed.")
        .value("Running", TrialState::Running)
        .value("Complete", TrialState::Complete)
        .value("Pruned", TrialState::Pruned)
        .value("Failed", TrialState::Failed);
    py::enum_<StudyDirection>(m, "StudyDirection", "Whether a value is minimised or maximised.")
        .value("Minimize", StudyDirection::Minimize)
        .value("Maximize", StudyDirection::Maximize);
}

Trial guard_hooks(Trial trial, const std::weak_ptr<const bool>& study_alive) {
    if (trial.suggest_hook) {
        trial.suggest_hook = [study_alive, hook = std::move(trial.suggest_hook)](Trial& t, const std::string& name,
                                                                                 const Distribution& dist) {
            if (study_alive.expired()) throw std::runtime_error("Trial is not attached to a Study.");
            return hook(t, name, dist);
        };
    }
    if (trial.prune_hook) {
        trial.prune_hook = [study_alive, hook = std::move(trial.prune_hook)](const Trial& t) {
            return !study_alive.expired() && hook(t);
        };
    }
    if (trial.progress_hook) {
        trial.progress_hook = [study_alive, hook = std::move(trial.progress_hook)](const Trial& t, TrialProgress what,
                                                                                   const std::string& key) {
            if (!study_alive.expired()) hook(t, what, key);
        };
    }
    return trial;
}

py::dict ordered_params(const Trial& t) {
    py::dict out;
    for (const auto* p : t.ordered_params().params) out[py::cast(p->first)] = py::cast(p->second);
    return out;
}

py::dict distribution_dict(const Distribution& dist) {
    py::dict out;
    std::visit(
        [&out](const auto& d) {
            using D = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<D, CategoricalDist>) {
                out["kind"] = "categorical";
                out["choices"] = d.choices;
            } else {
                out["kind"] = std::is_same_v<D, FloatDist> ? "float" : "int";
                out["low"] = d.low;
                out["high"] = d.high;
                out["log"] = d.log;
                out["step"] = d.step;  // a float's is None when continuous
            }
        },
        dist);
    return out;
}

namespace {

py::dict distributions_dict(const Trial& t) {
    py::dict out;
    for (const auto& [name, dist] : t.distributions) out[py::str(name)] = distribution_dict(dist);
    return out;
}

// A distribution as a plain tuple, for pickling: ("float", low, high, log, step), ("int", ...)
// or ("categorical", choices).
py::tuple distribution_state(const Distribution& dist) {
    if (const auto* f = std::get_if<FloatDist>(&dist)) return py::make_tuple("float", f->low, f->high, f->log, f->step);
    if (const auto* i = std::get_if<IntDist>(&dist)) return py::make_tuple("int", i->low, i->high, i->log, i->step);
    return py::make_tuple("categorical", std::get<CategoricalDist>(dist).choices);
}

Distribution distribution_of_state(const py::tuple& state) {
    const auto kind = state[0].cast<std::string>();
    if (kind == "float") {
        return FloatDist{state[1].cast<double>(), state[2].cast<double>(), state[3].cast<bool>(),
                         state[4].cast<std::optional<double>>()};
    }
    if (kind == "int")
        return IntDist{state[1].cast<int>(), state[2].cast<int>(), state[3].cast<bool>(), state[4].cast<int>()};
    return CategoricalDist{state[1].cast<std::vector<std::string>>()};
}

std::int64_t ns_of(TimePoint t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}
TimePoint time_of_ns(std::int64_t ns) {
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(std::chrono::nanoseconds(ns)));
}

// Everything a trial holds but its hooks: a pickled trial comes back detached.
py::tuple trial_state(const Trial& t) {
    py::list params, distributions;
    for (const auto& [name, value] : ordered_params(t)) params.append(py::make_tuple(name, value));
    for (const auto& [name, dist] : t.distributions)
        distributions.append(py::make_tuple(name, distribution_state(dist)));
    py::dict fixed;
    for (const auto& [name, value] : t.fixed_params) fixed[py::str(name)] = py::cast(value);
    return py::make_tuple(2, t.trial_id, t.study_id, static_cast<int>(t.state), t.values, params, distributions,
                          t.intermediate_values, t.user_attrs, t.system_attrs, ns_of(t.datetime_start),
                          ns_of(t.datetime_complete), t.fail_reason, fixed, t.constraints);
}

std::unique_ptr<Trial> trial_of_state(const py::tuple& s) {
    // Version 1 (14 fields) had no constraints.
    const bool known = (s.size() == 14 && s[0].cast<int>() == 1) || (s.size() == 15 && s[0].cast<int>() == 2);
    if (!known) throw py::value_error("not the pickled state of a tarvex trial");
    auto t = std::make_unique<Trial>(s[1].cast<int>(), s[2].cast<int>());
    t->state = static_cast<TrialState>(s[3].cast<int>());
    t->values = s[4].cast<std::vector<double>>();
    for (const auto& item : s[5].cast<py::list>()) {
        const auto pair = item.cast<py::tuple>();
        const auto name = pair[0].cast<std::string>();
        t->params.insert_or_assign(name, to_param_value(pair[1], "params['" + name + "']"));
        t->param_order.push_back(name);
    }
    for (const auto& item : s[6].cast<py::list>()) {
        const auto pair = item.cast<py::tuple>();
        t->distributions.insert_or_assign(pair[0].cast<std::string>(),
                                          distribution_of_state(pair[1].cast<py::tuple>()));
    }
    t->intermediate_values = s[7].cast<std::vector<std::pair<std::int32_t, double>>>();
    t->user_attrs = s[8].cast<std::unordered_map<std::string, std::string>>();
    t->system_attrs = s[9].cast<std::unordered_map<std::string, std::string>>();
    t->datetime_start = time_of_ns(s[10].cast<std::int64_t>());
    t->datetime_complete = time_of_ns(s[11].cast<std::int64_t>());
    t->fail_reason = s[12].cast<std::optional<std::string>>();
    t->fixed_params = to_param_map(s[13].cast<py::dict>());
    if (s.size() > 14) t->constraints = s[14].cast<std::vector<double>>();
    return t;
}

}  // namespace

void bind_trial(py::module_& m) {
    py::class_<Trial, std::unique_ptr<Trial>> cls(m, "Trial");
    cls.def(
           "suggest_float",
           [](Trial& t, const std::string& name, double low, double high, bool log) {
               return t.suggest_float(name, low, high, log, std::nullopt);
           },
           py::arg("name"), py::arg("low"), py::arg("high"), py::arg("log") = false)
        .def("suggest_int", &Trial::suggest_int, py::arg("name"), py::arg("low"), py::arg("high"),
             py::arg("log") = false, py::arg("step") = 1)
        .def("suggest_categorical", &Trial::suggest_categorical, py::arg("name"), py::arg("choices"))
        .def("report", &Trial::report, py::arg("value"), py::arg("step"))
        .def("should_prune", &Trial::should_prune)
        .def("set_user_attr", &Trial::set_user_attr)
        .def("get_user_attr", &Trial::get_user_attr)
        .def_property_readonly("trial_id", [](const Trial& t) { return t.trial_id; })
        .def_property_readonly("number", [](const Trial& t) { return t.trial_id; })
        .def_property_readonly("study_id", [](const Trial& t) { return t.study_id; })
        .def_property_readonly("state", [](const Trial& t) { return t.state; })
        .def_property_readonly("datetime_start", [](const Trial& t) { return t.datetime_start; })
        .def_property_readonly("datetime_complete", [](const Trial& t) { return t.datetime_complete; })
        .def_property_readonly("user_attrs", [](const Trial& t) { return t.user_attrs; })
        .def_property_readonly("values", [](const Trial& t) { return t.values; })
        .def_property(
            "constraints", [](const Trial& t) { return t.constraints; },
            [](Trial& t, std::vector<double> c) { t.constraints = std::move(c); },
            "The constraint values of the trial, set once its objective returns: feasible when each is <= 0. "
            "Empty: no constraints.")
        .def_property_readonly("feasible", &Trial::feasible)
        .def_property_readonly("value", &Trial::value)
        .def_property_readonly("params", &ordered_params, "The parameter values, in the order the trial got them.")
        .def_property_readonly("intermediate_values", [](const Trial& t) { return t.intermediate_values; })
        .def_property_readonly("distributions", &distributions_dict,
                               "Each parameter's distribution as the objective asked for it: a dict with kind "
                               "('float', 'int' or 'categorical') and low, high, log, step or choices.")
        .def_property_readonly(
            "fail_reason", [](const Trial& t) { return t.fail_reason; },
            "Why a Failed trial failed (the exception's type and message); None for the others.")
        .def_property_readonly(
            "system_attrs", [](const Trial& t) { return t.system_attrs; },
            "What the system noted about the trial, such as presumed_lost for a trial declared lost "
            "that its process finished after all.")
        .def(
            "fixed_value",
            [](const Trial& t, const std::string& name) -> py::object {
                const auto it = t.fixed_params.find(name);
                return it == t.fixed_params.end() ? py::none() : py::cast(it->second);
            },
            py::arg("name"), "The value fixed for name (enqueued), or None.")
        .def(py::pickle(&trial_state, &trial_of_state))
        .def(
            "fix_param",
            [](Trial& t, const std::string& name, const py::handle& value) {
                t.fixed_params.insert_or_assign(name, to_param_value(value, "fix_param('" + name + "')"));
            },
            py::arg("name"), py::arg("value"),
            "Fixes the value that the trial's first suggestion of name returns, as an enqueued value does.");
    def_checked_suggest(cls);
}

}  // namespace tarvex::python
