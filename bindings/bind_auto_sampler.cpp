#include "bindings.hpp"
#include "tarvex/auto_sampler.hpp"

namespace tarvex::python {

void bind_auto_sampler(py::module_& m) {
    const AutoSamplerConfig defaults;
    py::class_<AutoSampler, ISampler, std::shared_ptr<AutoSampler>>(m, "AutoSampler")
        .def(py::init([](int max_gp_trials, int max_gp_trials_multi_objective, std::uint64_t seed) {
                 return std::make_shared<AutoSampler>(
                     AutoSamplerConfig{.max_gp_trials = max_gp_trials,
                                       .max_gp_trials_multi_objective = max_gp_trials_multi_objective,
                                       .seed = seed});
             }),
             py::arg("max_gp_trials") = defaults.max_gp_trials,
             py::arg("max_gp_trials_multi_objective") = defaults.max_gp_trials_multi_objective, py::arg("seed") = 0)
        .def_property_readonly("max_gp_trials", [](const AutoSampler& s) { return s.config.max_gp_trials; })
        .def_property_readonly("max_gp_trials_multi_objective",
                               [](const AutoSampler& s) { return s.config.max_gp_trials_multi_objective; });
}

}  // namespace tarvex::python
