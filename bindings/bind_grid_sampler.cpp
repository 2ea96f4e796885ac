#include <pybind11/stl.h>

#include "bindings.hpp"
#include "tarvex/grid_sampler.hpp"

namespace tarvex::python {

void bind_grid_sampler(py::module_& m) {
    py::class_<GridSampler, ISampler, std::shared_ptr<GridSampler>>(m, "GridSampler")
        .def(py::init<std::map<std::string, std::vector<ParamValue>>, std::uint64_t>(), py::arg("grid"),
             py::arg("seed") = 0)
        .def("__len__", &GridSampler::size);
}

}  // namespace tarvex::python
