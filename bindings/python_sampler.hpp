// Samplers written in Python: subclasses of _tarvex.ISampler.
#pragma once

#include "bindings.hpp"

namespace tarvex::python {

// Calls the Python subclass's methods, each with the interpreter lock taken for the call:
// propose(history, trial) -> dict, sample_independent(trial, name, distribution) -> value,
// after_trial(trial) and before_study(directions), each optional but sample_independent.
// Trials come as detached copies, distributions as dicts (see distribution_dict).
class PythonSampler : public ISampler {
public:
    void before_study(const Study& study) override;
    ParamValue sample_independent(const Study& study, const Trial& trial, const std::string& name,
                                  const Distribution& dist) override;
    void after_trial(const Study& study, const Trial& trial) override;
    bool proposes() const override { return true; }
    ParamMap propose(const History& history, const Trial& trial, SamplerState* state) override;
    // Python code may hand the interpreter lock to another thread at any time, which may then wait
    // for the study's sampling lock: calls come without the interpreter lock, and take it.
    bool is_slow() const override { return true; }
};

// The Python object of a sampler that Python subclassed, kept alive by the pointer the core
// holds: a Study may outlive every Python reference to its sampler.
std::shared_ptr<ISampler> keep_python_part(std::shared_ptr<ISampler> sampler, py::handle object);

void bind_python_sampler(py::class_<ISampler, PythonSampler, std::shared_ptr<ISampler>>& cls);

}  // namespace tarvex::python
