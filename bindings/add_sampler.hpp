// A sampler class in the module, for samplers whose options are their constructor's arguments.
#pragma once

#include <memory>
#include <utility>

#include "bindings.hpp"
#include "tarvex/sampler.hpp"

namespace tarvex::python {

template <class Sampler>
using SamplerClass = py::class_<Sampler, ISampler, std::shared_ptr<Sampler>>;

// ISampler's methods (saved_state, restore_state) are inherited; the returned class takes any
// methods of the sampler's own.
template <class Sampler, class Init, class... Args>
SamplerClass<Sampler> add_sampler(py::module_& m, const char* name, const char* doc, Init&& init, Args&&... args) {
    SamplerClass<Sampler> cls(m, name, doc);
    cls.def(std::forward<Init>(init), std::forward<Args>(args)...);
    return cls;
}

}  // namespace tarvex::python
