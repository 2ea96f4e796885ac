#include "bindings.hpp"

// Registration order matters: bases before subclasses, and enumerations before the
// constructors whose defaults are their members.
PYBIND11_MODULE(_tarvex, m, pybind11::multiple_interpreters::not_supported()) {
    m.doc() = "tarvex — high-performance hyperparameter optimisation";
    pybind11::register_exception<tarvex::TrialPruned>(m, "TrialPruned", PyExc_Exception).attr("__doc__") =
        "Raised by an objective to end its trial as pruned.";
    tarvex::python::bind_errors(m);
    tarvex::python::bind_enums(m);
    tarvex::python::bind_trial(m);
    tarvex::python::bind_storage(m);
    tarvex::python::bind_study(m);
    tarvex::python::bind_samplers(m);
    tarvex::python::bind_sampler_classes(m);
    tarvex::python::bind_multi_objective(m);
    tarvex::python::bind_pruners(m);
}
