#include <pybind11/stl.h>

#include "bindings.hpp"
#include "tarvex/hypervolume.hpp"

namespace tarvex::python {

void bind_multi_objective(py::module_& m) {
    m.def("hypervolume", &hypervolume, py::arg("points"), py::arg("reference"),
          py::call_guard<py::gil_scoped_release>(),
          "The volume the points dominate up to reference, every objective minimised; exact.");
}

}  // namespace tarvex::python
