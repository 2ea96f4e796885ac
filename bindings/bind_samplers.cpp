#include "bindings.hpp"
#include "python_sampler.hpp"
#include "tarvex/sampler.hpp"

namespace tarvex::python {

void bind_samplers(py::module_& m) {
    py::class_<ISampler, PythonSampler, std::shared_ptr<ISampler>> sampler(
        m, "ISampler",
        "The sampler interface. A Python subclass defines sample_independent(trial, name, distribution) -> value, "
        "and may define propose(history, trial) -> dict (a whole configuration when a trial first asks; names "
        "outside it go to sample_independent), after_trial(trial) and before_study(directions).");
    bind_python_sampler(sampler);
    sampler
        .def(
            "saved_state", [](const ISampler& s) { return py::bytes(s.saved_state()); },
            "What the sampler itself carries between calls (its random generators), for restore_state of a copy; "
            "what a study keeps for the sampler is not part of it.")
        .def(
            "restore_state", [](ISampler& s, const py::bytes& state) { s.restore_state(std::string(state)); },
            py::arg("state"),
            "Takes back what saved_state of the same kind of sampler returned; ValueError for anything else.");
}

}  // namespace tarvex::python
