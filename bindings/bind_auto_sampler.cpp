#include "bindings.hpp"
#include "tarvex/auto_sampler.hpp"

namespace tarvex::python {

void bind_auto_sampler(py::module_& m) {
    const AutoSamplerConfig defaults;
    py::class_<AutoSampler, ISampler, std::shared_ptr<AutoSampler>>(m, "AutoSampler")
        .def(py::init([](int max_gp_trials, std::uint64_t seed) {
                 return std::make_shared<AutoSampler>(AutoSamplerConfig{.max_gp_trials = max_gp_trials, .seed = seed});
             }),
             py::arg("max_gp_trials") = defaults.max_gp_trials, py::arg("seed") = 0)
        .def_property_readonly("max_gp_trials", [](const AutoSampler& s) { return s.config.max_gp_trials; });
}

}  // namespace tarvex::python
