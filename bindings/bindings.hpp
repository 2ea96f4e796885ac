// Shared pieces of the _tarvex module: the registration steps and the conversions
// that more than one of them needs.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "tarvex/study.hpp"

namespace tarvex::python {

namespace py = pybind11;

// The study as Python owns it. The token expires with the study, so trial copies handed to
// Python can tell that the study their hooks point to is gone.
class BoundStudy : public Study {
public:
    using Study::Study;
    std::shared_ptr<const bool> alive = std::make_shared<const bool>(true);
};

// A stored trial copy whose hooks refuse politely once its study has been destroyed.
Trial guard_hooks(Trial trial, const std::weak_ptr<const bool>& study_alive);

// A Python dict of parameters as the core's map: bool and int become int, float double, the
// rest must be a str. Non-str keys are replaced by str(key).
ParamMap to_param_map(const py::dict& params);

void bind_enums(py::module_& m);
void bind_trial(py::module_& m);
void bind_study(py::module_& m);
void bind_samplers(py::module_& m);
void bind_pruners(py::module_& m);

}  // namespace tarvex::python
