#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include "bindings.hpp"
#include "tarvex/tpe_sampler.hpp"

namespace tarvex::python {

void bind_tpe_sampler(py::module_& m) {
    py::class_<TPESamplerConfig>(m, "TPESamplerConfig", "A TPESampler's settings; constructed bare, the defaults.")
        .def(py::init<>())
        .def_readonly("n_startup_trials", &TPESamplerConfig::n_startup_trials)
        .def_readonly("n_ei_candidates", &TPESamplerConfig::n_ei_candidates)
        .def_readonly("multivariate", &TPESamplerConfig::multivariate)
        .def_readonly("prior_weight", &TPESamplerConfig::prior_weight)
        .def_readonly("constant_liar", &TPESamplerConfig::constant_liar)
        .def_readonly("seed", &TPESamplerConfig::seed);
    const TPESamplerConfig defaults;
    py::class_<TPESampler, ISampler, std::shared_ptr<TPESampler>>(m, "TPESampler")
        .def(py::init([](int n_startup_trials, int n_ei_candidates, bool multivariate, double prior_weight,
                         bool constant_liar, std::optional<std::function<int(int)>> gamma, std::uint64_t seed) {
                 return std::make_shared<TPESampler>(TPESamplerConfig{.n_startup_trials = n_startup_trials,
                                                                      .n_ei_candidates = n_ei_candidates,
                                                                      .multivariate = multivariate,
                                                                      .prior_weight = prior_weight,
                                                                      .constant_liar = constant_liar,
                                                                      .gamma = gamma ? std::move(*gamma) : nullptr,
                                                                      .seed = seed});
             }),
             py::arg("n_startup_trials") = defaults.n_startup_trials,
             py::arg("n_ei_candidates") = defaults.n_ei_candidates, py::arg("multivariate") = defaults.multivariate,
             py::arg("prior_weight") = defaults.prior_weight, py::arg("constant_liar") = defaults.constant_liar,
             py::arg("gamma") = py::none(), py::arg("seed") = 0)
        .def_property_readonly("config", [](const TPESampler& s) { return s.config; });
}

}  // namespace tarvex::python
