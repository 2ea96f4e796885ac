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
        trial.suggest_hook = [study_alive, hook = std::move(trial.suggest_hook)](
                                 Trial& t, const std::string& name, const Distribution& dist) {
            if (study_alive.expired()) throw std::runtime_error("Trial is not attached to a Study.");
            return hook(t, name, dist);
        };
    }
    if (trial.prune_hook) {
        trial.prune_hook = [study_alive, hook = std::move(trial.prune_hook)](const Trial& t) {
            return !study_alive.expired() && hook(t);
        };
    }
    return trial;
}

namespace {

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

py::dict distributions_dict(const Trial& t) {
    py::dict out;
    for (const auto& [name, dist] : t.distributions) out[py::str(name)] = distribution_dict(dist);
    return out;
}

}  // namespace

void bind_trial(py::module_& m) {
    py::class_<Trial, std::unique_ptr<Trial>>(m, "Trial")
        .def(
            "suggest_float",
            [](Trial& t, const std::string& name, double low, double high, bool log) {
                return t.suggest_float(name, low, high, log, std::nullopt);
            },
            py::arg("name"), py::arg("low"), py::arg("high"), py::arg("log") = false)
        .def("suggest_int", &Trial::suggest_int, py::arg("name"), py::arg("low"), py::arg("high"),
             py::arg("log") = false, py::arg("step") = 1)
        // The public package's signatures, bound directly so that its trials call no Python code.
        .def(
            "suggest_float_kw",
            [](Trial& t, const std::string& name, double low, double high, std::optional<double> step, bool log) {
                return t.suggest_float(name, low, high, log, step);
            },
            py::arg("name"), py::arg("low"), py::arg("high"), py::kw_only(), py::arg("step") = py::none(),
            py::arg("log") = false,
            "A float in [low, high]: uniform, on a log scale (log=True, low > 0), or on the grid low, low + step, ... "
            "(step).")
        .def(
            "suggest_int_kw",
            [](Trial& t, const std::string& name, int low, int high, int step, bool log) {
                return t.suggest_int(name, low, high, log, step);
            },
            py::arg("name"), py::arg("low"), py::arg("high"), py::kw_only(), py::arg("step") = 1,
            py::arg("log") = false,
            "An int in [low, high] on the grid low, low + step, ..., or on a log scale (log=True, low > 0).")
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
        .def_property_readonly("value", &Trial::value)
        .def_property_readonly("params", [](const Trial& t) { return t.params; })
        .def_property_readonly("intermediate_values", [](const Trial& t) { return t.intermediate_values; })
        .def_property_readonly("distributions", &distributions_dict,
                               "Each parameter's distribution as the objective asked for it: a dict with kind "
                               "('float', 'int' or 'categorical') and low, high, log, step or choices.")
        .def_property_readonly("fail_reason", [](const Trial& t) { return t.fail_reason; },
                               "Why a Failed trial failed (the exception's type and message); None for the others.")
        .def(
            "fix_param",
            [](Trial& t, const std::string& name, const py::handle& value) {
                t.fixed_params.insert_or_assign(name, to_param_value(value, "fix_param('" + name + "')"));
            },
            py::arg("name"), py::arg("value"),
            "Fixes the value that the trial's first suggestion of name returns, as an enqueued value does.");
}

}  // namespace tarvex::python
