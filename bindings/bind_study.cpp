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

// A sampler whose suggestions fit a model; a random draw costs less than releasing the lock.
bool fits_models(const Study& study) { return dynamic_cast<const GPSampler*>(study.sampler.get()) != nullptr; }

bool is_bytes_like(const py::handle& h) { return PyBytes_Check(h.ptr()) || PyByteArray_Check(h.ptr()); }

// A str as UTF-8; one that UTF-8 cannot encode (a lone surrogate) is refused by name.
std::string utf8_of(const py::handle& text, const std::string& where) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (!utf8) {
        PyErr_Clear();
        throw py::value_error(where + ": text must be valid Unicode, without lone surrogates.");
    }
    return {utf8, static_cast<std::size_t>(size)};
}

}  // namespace

ParamMap to_param_map(const py::dict& params) {
    ParamMap out;
    for (const auto& [key, value] : params) {
        if (is_bytes_like(key)) {
            throw py::type_error("params: parameter names must be str, not " + py::repr(key).cast<std::string>() + ".");
        }
        std::string name = utf8_of(PyUnicode_Check(key.ptr()) ? key : py::str(key), "params");
        ParamValue v;
        if (Py_IS_TYPE(value.ptr(), &PyBool_Type)) {
            v = value.ptr() == Py_True ? 1 : 0;
        } else if (PyLong_Check(value.ptr())) {
            v = value.cast<int>();
        } else if (PyFloat_Check(value.ptr())) {
            v = PyFloat_AS_DOUBLE(value.ptr());
        } else if (is_bytes_like(value)) {
            throw py::type_error("params['" + name + "']: a value is a bool, int, float or str, not " +
                                 std::string(Py_TYPE(value.ptr())->tp_name) + ".");
        } else if (PyUnicode_Check(value.ptr())) {
            v = utf8_of(value, "params['" + name + "']");
        } else {
            v = value.cast<std::string>();  // not text: the binding library's cast error
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
            [pruned_type](BoundStudy& study, CallableRef objective, int n_trials, int n_jobs,
                          std::optional<double> timeout) {
                const PythonObjective callback{objective.ptr, pruned_type.ptr(), fits_models(study)};
                without_interpreter_lock([&] {
                    study.optimize([&callback](Trial& t) { return call_objective<double>(callback, t); },
                                   n_trials, n_jobs, timeout);
                });
            },
            py::arg("objective"), py::arg("n_trials"), py::arg("n_jobs") = 1, py::arg("timeout") = py::none())
        .def(
            "optimize_mo",
            [pruned_type](BoundStudy& study, CallableRef objective, int n_trials, int n_jobs) {
                const PythonObjective callback{objective.ptr, pruned_type.ptr(), fits_models(study)};
                without_interpreter_lock([&] {
                    study.optimize_mo(
                        [&callback](Trial& t) { return call_objective<std::vector<double>>(callback, t); },
                        n_trials, n_jobs, std::nullopt);
                });
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
