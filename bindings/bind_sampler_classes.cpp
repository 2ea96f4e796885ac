#include <pybind11/stl.h>

#include "add_sampler.hpp"
#include "bindings.hpp"
#include "tarvex/grid_sampler.hpp"
#include "tarvex/random_sampler.hpp"
#include "tarvex/sobol_sampler.hpp"

namespace tarvex::python {

// Every sampler class of the module: a new one is a line here, its header and its source (found
// by the build). Samplers with an options record have a bind file of their own for it.
void bind_sampler_classes(py::module_& m) {
    add_sampler<RandomSampler>(m, "RandomSampler", "Independent uniform draws (on the log scale where asked).",
                               py::init<std::uint64_t>(), py::arg("seed") = 0);
    add_sampler<SobolSampler>(m, "SobolSampler", "Quasi-random search: a scrambled Sobol sequence.",
                              py::init<std::uint64_t, bool>(), py::arg("seed") = 0, py::arg("scramble") = true);
    add_sampler<GridSampler>(m, "GridSampler", "Every combination of the given values, each once, in a shuffled order.",
                             py::init<std::map<std::string, std::vector<ParamValue>>, std::uint64_t>(), py::arg("grid"),
                             py::arg("seed") = 0)
        .def("__len__", &GridSampler::size);
    bind_gp_sampler(m);
    bind_tpe_sampler(m);
    bind_cmaes_sampler(m);
    bind_nsga2_sampler(m);
    // Last: it is made of the others.
    bind_auto_sampler(m);
}

}  // namespace tarvex::python
