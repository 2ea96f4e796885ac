#include "bindings.hpp"
#include "tarvex/sobol_sampler.hpp"

namespace tarvex::python {

void bind_sobol_sampler(py::module_& m) {
    py::class_<SobolSampler, ISampler, std::shared_ptr<SobolSampler>>(m, "SobolSampler")
        .def(py::init<std::uint64_t, bool>(), py::arg("seed") = 0, py::arg("scramble") = true);
}

}  // namespace tarvex::python
