#include "bindings.hpp"
#include "python_sampler.hpp"
#include "tarvex/samplers.hpp"

namespace tarvex::python {

void bind_samplers(py::module_& m) {
    py::class_<ISampler, PythonSampler, std::shared_ptr<ISampler>> sampler(
        m, "ISampler",
        "The sampler interface. A Python subclass defines sample_independent(trial, name, distribution) -> value, "
        "and may define propose(history, trial) -> dict (a whole configuration when a trial first asks; names "
        "outside it go to sample_independent), after_trial(trial) and before_study(directions).");
    bind_python_sampler(sampler);
    sampler
        .def(
            "saved_state", [](const ISampler& s) { return py::bytes(s.saved_state()); },
            "What the sampler itself carries between calls (its random generators), for restore_state of a copy; "
            "what a study keeps for the sampler is not part of it.")
        .def(
            "restore_state", [](ISampler& s, const py::bytes& state) { s.restore_state(std::string(state)); },
            py::arg("state"),
            "Takes back what saved_state of the same kind of sampler returned; ValueError for anything else.");
    py::class_<RandomSampler, ISampler, std::shared_ptr<RandomSampler>>(m, "RandomSampler")
        .def(py::init<std::uint64_t>(), py::arg("seed") = 0);

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
        .def_readonly("random_scalarisations", &GPSamplerConfig::random_scalarisations);

    py::class_<GPSampler, ISampler, std::shared_ptr<GPSampler>>(m, "GPSampler")
        .def(py::init([](KernelType kernel, AcquisitionType acq, int n_warmup, double xi, double beta, int n_cand,
                         int n_restarts, bool use_priors, bool fit_noise, double noise_var, std::uint64_t seed,
                         bool warp_values, bool multi_objective, bool random_scalarisations) {
                 GPSamplerConfig config;
                 config.kernel = kernel;
                 config.acq = acq;
                 config.noise_var = noise_var;
                 config.use_priors = use_priors;
                 config.fit_noise = fit_noise;
                 config.n_restarts = n_restarts;
                 config.n_warmup = n_warmup;
                 config.xi = xi;
                 config.beta = beta;
                 config.auto_beta = true;
                 config.n_cand = n_cand;
                 config.seed = seed;
                 config.warp_values = warp_values;
                 config.multi_objective = multi_objective;
                 config.random_scalarisations = random_scalarisations;
                 return std::make_shared<GPSampler>(config);
             }),
             py::arg("kernel") = KernelType::Matern52, py::arg("acq") = AcquisitionType::LogEI, py::arg("n_warmup") = 8,
             py::arg("xi") = 0.003, py::arg("beta") = 2.0, py::arg("n_cand") = 1024, py::arg("n_restarts") = 2,
             py::arg("use_priors") = true, py::arg("fit_noise") = false, py::arg("noise_var") = 0.0001,
             py::arg("seed") = 0, py::arg("warp_values") = false, py::arg("multi_objective") = false,
             py::arg("random_scalarisations") = false)
        .def_property_readonly("config", [](const GPSampler& s) { return s.config; });
}

}  // namespace tarvex::python
