#include <pybind11/stl.h>

#include <vector>

#include "bindings.hpp"
#include "tarvex/gp_sampler.hpp"

namespace tarvex::python {

void bind_gp_sampler(py::module_& m) {
    // Registered before GPSampler: its defaults are members of these.
    py::enum_<AcquisitionType>(m, "AcquisitionType", "The acquisition function a GPSampler maximises.")
        .value("EI", AcquisitionType::EI)
        .value("LogEI", AcquisitionType::LogEI)
        .value("UCB", AcquisitionType::UCB)
        .value("PI", AcquisitionType::PI);
    py::enum_<KernelType>(m, "KernelType", "The covariance kernel of a GPSampler's model.")
        .value("RBF", KernelType::RBF)
        .value("Matern52", KernelType::Matern52);

    // Read-only: the package takes its defaults from here, and GPSampler.config shows what a sampler uses.
    py::class_<GPSamplerConfig>(m, "GPSamplerConfig",
                                "A GPSampler's settings; constructed bare, the package's defaults.")
        .def(py::init<>())
        .def_readonly("kernel", &GPSamplerConfig::kernel)
        .def_readonly("acq", &GPSamplerConfig::acq)
        .def_readonly("noise_var", &GPSamplerConfig::noise_var)
        .def_readonly("use_priors", &GPSamplerConfig::use_priors)
        .def_readonly("fit_noise", &GPSamplerConfig::fit_noise)
        .def_readonly("n_restarts", &GPSamplerConfig::n_restarts)
        .def_readonly("n_warmup", &GPSamplerConfig::n_warmup)
        .def_readonly("xi", &GPSamplerConfig::xi)
        .def_readonly("beta", &GPSamplerConfig::beta)
        .def_readonly("auto_beta", &GPSamplerConfig::auto_beta)
        .def_readonly("n_cand", &GPSamplerConfig::n_cand)
        .def_readonly("seed", &GPSamplerConfig::seed)
        .def_readonly("warp_values", &GPSamplerConfig::warp_values)
        .def_readonly("multi_objective", &GPSamplerConfig::multi_objective)
        .def_readonly("random_scalarisations", &GPSamplerConfig::random_scalarisations)
        .def_readonly("trust_region", &GPSamplerConfig::trust_region)
        .def_readonly("principal_axes", &GPSamplerConfig::principal_axes)
        .def_readonly("quadratic_mean", &GPSamplerConfig::quadratic_mean)
        .def_readonly("reference_point", &GPSamplerConfig::reference_point);

    py::class_<GPSampler, ISampler, std::shared_ptr<GPSampler>>(m, "GPSampler")
        .def(py::init([](KernelType kernel, AcquisitionType acq, int n_warmup, double xi, double beta, int n_cand,
                         int n_restarts, bool use_priors, bool fit_noise, double noise_var, std::uint64_t seed,
                         bool warp_values, bool multi_objective, bool random_scalarisations, bool trust_region,
                         std::vector<double> reference_point, bool principal_axes, bool quadratic_mean) {
                 return std::make_shared<GPSampler>(GPSamplerConfig{.kernel = kernel,
                                                                    .acq = acq,
                                                                    .noise_var = noise_var,
                                                                    .use_priors = use_priors,
                                                                    .fit_noise = fit_noise,
                                                                    .n_restarts = n_restarts,
                                                                    .n_warmup = n_warmup,
                                                                    .xi = xi,
                                                                    .beta = beta,
                                                                    .auto_beta = true,
                                                                    .n_cand = n_cand,
                                                                    .seed = seed,
                                                                    .warp_values = warp_values,
                                                                    .multi_objective = multi_objective,
                                                                    .random_scalarisations = random_scalarisations,
                                                                    .trust_region = trust_region,
                                                                    .principal_axes = principal_axes,
                                                                    .quadratic_mean = quadratic_mean,
                                                                    .reference_point = std::move(reference_point)});
             }),
             py::arg("kernel") = KernelType::Matern52, py::arg("acq") = AcquisitionType::LogEI, py::arg("n_warmup") = 8,
             py::arg("xi") = 0.003, py::arg("beta") = 2.0, py::arg("n_cand") = 1024, py::arg("n_restarts") = 2,
             py::arg("use_priors") = true, py::arg("fit_noise") = false, py::arg("noise_var") = 0.0001,
             py::arg("seed") = 0, py::arg("warp_values") = false, py::arg("multi_objective") = false,
             py::arg("random_scalarisations") = false, py::arg("trust_region") = false,
             py::arg("reference_point") = std::vector<double>{}, py::arg("principal_axes") = false,
             py::arg("quadratic_mean") = false)
        .def_property_readonly("config", [](const GPSampler& s) { return s.config; });
}

}  // namespace tarvex::python
