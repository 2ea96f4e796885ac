#include "bindings.hpp"
#include "tarvex/samplers.hpp"

namespace tarvex::python {

void bind_samplers(py::module_& m) {
    py::class_<ISampler, std::shared_ptr<ISampler>>(m, "ISampler");
    py::class_<RandomSampler, ISampler, std::shared_ptr<RandomSampler>>(m, "RandomSampler")
        .def(py::init<std::uint64_t>(), py::arg("seed") = 0);
}

}  // namespace tarvex::python
