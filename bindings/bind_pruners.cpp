#include "bindings.hpp"
#include "tarvex/pruners.hpp"

namespace tarvex::python {

void bind_pruners(py::module_& m) {
    py::class_<IPruner, std::shared_ptr<IPruner>>(m, "IPruner");
    py::class_<MedianPruner, IPruner, std::shared_ptr<MedianPruner>>(m, "MedianPruner")
        .def(py::init<int, int, double>(), py::arg("n_startup_trials") = 5, py::arg("n_warmup_steps") = 0,
             py::arg("percentile") = 50.0);
    py::class_<HyperbandPruner, IPruner, std::shared_ptr<HyperbandPruner>>(m, "HyperbandPruner")
        .def(py::init<int, int, double, int>(), py::arg("min_resource") = 1, py::arg("max_resource") = 81,
             py::arg("reduction_factor") = 3.0, py::arg("bootstrap_count") = 0);
}

}  // namespace tarvex::python
