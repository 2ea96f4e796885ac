#include <pybind11/stl.h>

#include <stdexcept>

#include "bindings.hpp"
#include "tarvex/cmaes_sampler.hpp"

namespace tarvex::python {
namespace {

CMARestart restart_of(const std::optional<std::string>& name) {
    if (!name || *name == "none") return CMARestart::None;
    if (*name == "ipop") return CMARestart::IPOP;
    if (*name == "bipop") return CMARestart::BIPOP;
    throw std::invalid_argument("CMAESSampler: restart_strategy must be None, 'ipop' or 'bipop', got '" + *name + "'.");
}

CMABounds bounds_of(const std::string& name) {
    if (name == "mirror") return CMABounds::Mirror;
    if (name == "resample") return CMABounds::Resample;
    throw std::invalid_argument("CMAESSampler: bounds must be 'mirror' or 'resample', got '" + name + "'.");
}

}  // namespace

void bind_cmaes_sampler(py::module_& m) {
    py::class_<CMAESProgress>(m, "CMAESProgress", "Where a study's CMA-ES search stands.")
        .def_readonly("generation", &CMAESProgress::generation)
        .def_readonly("popsize", &CMAESProgress::popsize)
        .def_readonly("sigma", &CMAESProgress::sigma)
        .def_readonly("restarts", &CMAESProgress::restarts);
    const CMAESSamplerConfig defaults;
    py::class_<CMAESSampler, ISampler, std::shared_ptr<CMAESSampler>>(m, "CMAESSampler")
        .def(py::init([](ParamMap x0, double sigma0, int n_startup_trials, int popsize,
                         std::optional<std::string> restart_strategy, int inc_popsize, bool with_margin, bool separable,
                         const std::string& bounds, std::vector<ParamMap> warm_start,
                         std::optional<std::shared_ptr<ISampler>> independent_sampler, std::uint64_t seed,
                         bool surrogate, double tol_fun) {
                 return std::make_shared<CMAESSampler>(CMAESSamplerConfig{
                     .x0 = std::move(x0),
                     .sigma0 = sigma0,
                     .n_startup_trials = n_startup_trials,
                     .popsize = popsize,
                     .restart_strategy = restart_of(restart_strategy),
                     .inc_popsize = inc_popsize,
                     .with_margin = with_margin,
                     .separable = separable,
                     .bounds = bounds_of(bounds),
                     .warm_start = std::move(warm_start),
                     .surrogate = surrogate,
                     .tol_fun = tol_fun,
                     .independent_sampler = independent_sampler ? std::move(*independent_sampler) : nullptr,
                     .seed = seed});
             }),
             py::arg("x0") = ParamMap{}, py::arg("sigma0") = defaults.sigma0,
             py::arg("n_startup_trials") = defaults.n_startup_trials, py::arg("popsize") = defaults.popsize,
             py::arg("restart_strategy") = "ipop", py::arg("inc_popsize") = defaults.inc_popsize,
             py::arg("with_margin") = defaults.with_margin, py::arg("separable") = defaults.separable,
             py::arg("bounds") = "resample", py::arg("warm_start") = std::vector<ParamMap>{},
             py::arg("independent_sampler") = py::none(), py::arg("seed") = 0,
             py::arg("surrogate") = defaults.surrogate, py::arg("tol_fun") = defaults.tol_fun)
        .def(
            "progress", [](const CMAESSampler& s, const BoundStudy& study) { return s.progress(study); },
            py::arg("study"), "Where the search of study (which uses this sampler) stands; read it between runs.")
        .def_property_readonly("popsize", [](const CMAESSampler& s) { return s.config.popsize; })
        .def_property_readonly("sigma0", [](const CMAESSampler& s) { return s.config.sigma0; })
        .def_property_readonly("separable", [](const CMAESSampler& s) { return s.config.separable; })
        .def_property_readonly("surrogate", [](const CMAESSampler& s) { return s.config.surrogate; })
        .def_property_readonly("tol_fun", [](const CMAESSampler& s) { return s.config.tol_fun; });
}

}  // namespace tarvex::python
