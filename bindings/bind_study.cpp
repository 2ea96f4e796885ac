#include <pybind11/stl.h>

#include "bindings.hpp"
#include "objective_bridge.hpp"
#include "tarvex/pruners.hpp"
#include "tarvex/samplers.hpp"

namespace tarvex::python {
namespace {

std::vector<Trial> guarded(std::vector<Trial> trials, const BoundStudy& study) {
    for (Trial& t : trials) t = guard_hooks(std::move(t), study.alive);
    return trials;
}

}  // namespace

ParamMap to_param_map(const py::dict& params) {
    ParamMap out;
    for (const auto& [key, value] : params) {
        std::string name = PyUnicode_Check(key.ptr()) ? key.cast<std::string>() : py::str(key).cast<std::string>();
        ParamValue v;
        if (Py_IS_TYPE(value.ptr(), &PyBool_Type)) {
            v = value.ptr() == Py_True ? 1 : 0;
        } else if (PyLong_Check(value.ptr())) {
            v = value.cast<int>();
        } else if (PyFloat_Check(value.ptr())) {
            v = PyFloat_AS_DOUBLE(value.ptr());
        } else {
            v = value.cast<std::string>();
        }
        out.insert_or_assign(std::move(name), std::move(v));
    }
    return out;
}

void bind_study(py::module_& m) {
    using SamplerPtr = std::shared_ptr<ISampler>;
    using PrunerPtr = std::shared_ptr<IPruner>;
    // Captured by the optimize bindings, so a rebound module attribute does not change pruning.
    const py::object pruned_type = m.attr("TrialPruned");

    py::class_<BoundStudy, std::unique_ptr<BoundStudy>>(m, "Study")
        .def(py::init<StudyDirection, SamplerPtr, PrunerPtr>(), py::arg("direction"),
             py::arg("sampler") = py::none(), py::arg("pruner") = py::none())
        .def(py::init<std::vector<StudyDirection>, SamplerPtr, PrunerPtr>(), py::arg("directions"),
             py::arg("sampler") = py::none(), py::arg("pruner") = py::none())
        .def(
            "optimize",
            [pruned_type](BoundStudy& study, const py::function& objective, int n_trials, int n_jobs,
                          std::optional<double> timeout) {
                const PythonObjective callback{objective.ptr(), pruned_type.ptr()};
                const py::gil_scoped_release release;
                study.optimize([&callback](Trial& t) { return call_objective<double>(callback, t); },
                               n_trials, n_jobs, timeout);
            },
            py::arg("objective"), py::arg("n_trials"), py::arg("n_jobs") = 1, py::arg("timeout") = py::none())
        .def(
            "optimize_mo",
            [pruned_type](BoundStudy& study, const py::function& objective, int n_trials, int n_jobs) {
                const PythonObjective callback{objective.ptr(), pruned_type.ptr()};
                const py::gil_scoped_release release;
                study.optimize_mo(
                    [&callback](Trial& t) { return call_objective<std::vector<double>>(callback, t); },
                    n_trials, n_jobs, std::nullopt);
            },
            py::arg("objective"), py::arg("n_trials"), py::arg("n_jobs") = 1)
        .def(
            "enqueue_trial",
            [](BoundStudy& study, const py::dict& params) { study.enqueue_trial(to_param_map(params)); },
            py::arg("params"))
        .def(
            "add_trial",
            [](BoundStudy& study, const py::dict& params, const std::vector<double>& values) {
                study.add_trial(to_param_map(params), values);
            },
            py::arg("params"), py::arg("values"))
        .def_property_readonly("best_value", &Study::best_value)
        .def_property_readonly("best_params", &Study::best_params)
        .def_property_readonly("best_trial",
                               [](const BoundStudy& s) { return guard_hooks(s.best_trial(), s.alive); })
        .def_property_readonly("trials", [](const BoundStudy& s) { return guarded(s.trials(), s); })
        .def_property_readonly("pareto_front", [](const BoundStudy& s) { return guarded(s.pareto_front(), s); })
        .def_property_readonly("n_directions", [](const BoundStudy& s) { return s.directions.size(); })
        .def_property_readonly("directions", [](const BoundStudy& s) { return s.directions; })
        .def_property_readonly("study_id", [](const BoundStudy& s) { return s.study_id; });
}

}  // namespace tarvex::python
