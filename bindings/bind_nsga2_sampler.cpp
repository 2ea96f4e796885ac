#include <pybind11/stl.h>

#include <stdexcept>

#include "bindings.hpp"
#include "tarvex/nsga2_sampler.hpp"

namespace tarvex::python {
namespace {

NSGA2Selection selection_of(const std::string& name) {
    if (name == "crowding") return NSGA2Selection::Crowding;
    if (name == "hypervolume") return NSGA2Selection::Hypervolume;
    if (name == "reference_points") return NSGA2Selection::ReferencePoints;
    throw std::invalid_argument(
        "NSGA2Sampler: selection must be 'crowding', 'hypervolume' or 'reference_points', got '" + name + "'.");
}

}  // namespace

void bind_nsga2_sampler(py::module_& m) {
    py::class_<NSGA2Progress>(m, "NSGA2Progress", "Where a study's NSGA-II search stands.")
        .def_readonly("generation", &NSGA2Progress::generation)
        .def_readonly("population", &NSGA2Progress::population);
    const NSGA2SamplerConfig defaults;
    py::class_<NSGA2Sampler, ISampler, std::shared_ptr<NSGA2Sampler>>(m, "NSGA2Sampler")
        .def(py::init([](int population_size, std::optional<double> mutation_prob, double crossover_prob,
                         double swapping_prob, double crossover_eta, double mutation_eta, const std::string& selection,
                         int reference_divisions, std::optional<std::shared_ptr<ISampler>> independent_sampler,
                         std::uint64_t seed) {
                 return std::make_shared<NSGA2Sampler>(NSGA2SamplerConfig{
                     .population_size = population_size,
                     .mutation_prob = mutation_prob,
                     .crossover_prob = crossover_prob,
                     .swapping_prob = swapping_prob,
                     .crossover_eta = crossover_eta,
                     .mutation_eta = mutation_eta,
                     .selection = selection_of(selection),
                     .reference_divisions = reference_divisions,
                     .independent_sampler = independent_sampler ? std::move(*independent_sampler) : nullptr,
                     .seed = seed});
             }),
             py::arg("population_size") = defaults.population_size, py::arg("mutation_prob") = py::none(),
             py::arg("crossover_prob") = defaults.crossover_prob, py::arg("swapping_prob") = defaults.swapping_prob,
             py::arg("crossover_eta") = defaults.crossover_eta, py::arg("mutation_eta") = defaults.mutation_eta,
             py::arg("selection") = "hypervolume", py::arg("reference_divisions") = defaults.reference_divisions,
             py::arg("independent_sampler") = py::none(), py::arg("seed") = 0)
        .def(
            "progress", [](const NSGA2Sampler& s, const BoundStudy& study) { return s.progress(study); },
            py::arg("study"), "Where the search of study (which uses this sampler) stands; read it between runs.")
        .def_property_readonly("population_size", [](const NSGA2Sampler& s) { return s.config.population_size; });
}

}  // namespace tarvex::python
