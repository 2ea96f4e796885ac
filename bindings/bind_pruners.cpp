#include "bindings.hpp"
#include "tarvex/pruners.hpp"

namespace tarvex::python {

void bind_pruners(py::module_& m) {
    py::class_<IPruner, std::shared_ptr<IPruner>>(m, "IPruner");

    const MedianPrunerOptions median;
    py::class_<MedianPrunerOptions>(m, "MedianPrunerOptions", "MedianPruner's settings; the package's defaults.")
        .def(py::init([](int n_startup_trials, int n_warmup_steps, double percentile) {
                 return MedianPrunerOptions{n_startup_trials, n_warmup_steps, percentile};
             }),
             py::kw_only(), py::arg("n_startup_trials") = median.n_startup_trials,
             py::arg("n_warmup_steps") = median.n_warmup_steps, py::arg("percentile") = median.percentile)
        .def_readonly("n_startup_trials", &MedianPrunerOptions::n_startup_trials)
        .def_readonly("n_warmup_steps", &MedianPrunerOptions::n_warmup_steps)
        .def_readonly("percentile", &MedianPrunerOptions::percentile);
    py::class_<MedianPruner, IPruner, std::shared_ptr<MedianPruner>>(m, "MedianPruner")
        .def(py::init<int, int, double>(), py::arg("n_startup_trials") = 5, py::arg("n_warmup_steps") = 0,
             py::arg("percentile") = 50.0)
        .def(py::init<const MedianPrunerOptions&>(), py::arg("options"),
             "With options checked: ValueError naming the first one out of range.");

    const HyperbandPrunerOptions hyperband;
    py::class_<HyperbandPrunerOptions>(m, "HyperbandPrunerOptions",
                                       "HyperbandPruner's settings; the package's defaults.")
        .def(py::init([](int min_resource, int max_resource, double reduction_factor, int bootstrap_count) {
                 return HyperbandPrunerOptions{min_resource, max_resource, reduction_factor, bootstrap_count};
             }),
             py::kw_only(), py::arg("min_resource") = hyperband.min_resource,
             py::arg("max_resource") = hyperband.max_resource, py::arg("reduction_factor") = hyperband.reduction_factor,
             py::arg("bootstrap_count") = hyperband.bootstrap_count)
        .def_readonly("min_resource", &HyperbandPrunerOptions::min_resource)
        .def_readonly("max_resource", &HyperbandPrunerOptions::max_resource)
        .def_readonly("reduction_factor", &HyperbandPrunerOptions::reduction_factor)
        .def_readonly("bootstrap_count", &HyperbandPrunerOptions::bootstrap_count);
    py::class_<HyperbandPruner, IPruner, std::shared_ptr<HyperbandPruner>>(m, "HyperbandPruner")
        .def(py::init<int, int, double, int>(), py::arg("min_resource") = 1, py::arg("max_resource") = 81,
             py::arg("reduction_factor") = 3.0, py::arg("bootstrap_count") = 0)
        .def(py::init<const HyperbandPrunerOptions&>(), py::arg("options"),
             "With options checked: ValueError naming the first one out of range.");
}

}  // namespace tarvex::python
