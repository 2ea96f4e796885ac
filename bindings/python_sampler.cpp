#include "python_sampler.hpp"

#include <pybind11/stl.h>

#include "objective_bridge.hpp"
#include "tarvex/distributions.hpp"

namespace tarvex::python {
namespace {

// A finished or running trial as Python sees it in a sampler call: a copy without hooks.
py::object detached(const Trial& trial) {
    auto copy = std::make_unique<Trial>(trial);
    copy->suggest_hook = nullptr;
    copy->prune_hook = nullptr;
    copy->progress_hook = nullptr;
    return py::cast(std::move(copy));
}

// The read-only history handed to propose, copied for Python: it may keep it.
struct PythonHistory {
    std::vector<StudyDirection> directions;
    std::vector<StoredTrial> trials;
    std::vector<ParamMap> pending;
};

// f() with the interpreter lock, its Python error as the core's exception (see
// throw_python_error): what a sampler raises fails the trial that asked.
template <class F>
TARVEX_PASSES_THREAD_EXIT auto with_python(F&& f) {
    InterpreterLock lock;
    try {
        return f();
    } catch (py::error_already_set& e) {
        e.restore();
        throw_python_error();
    } catch (const ThreadExit&) {
        lock.abandon();
        throw;
    }
}

py::function method(const PythonSampler* self, const char* name) {
    return py::get_override(static_cast<const ISampler*>(self), name);
}

}  // namespace

void PythonSampler::before_study(const Study& study) {
    with_python([&] {
        if (const py::function f = method(this, "before_study")) f(study.directions);
    });
}

ParamValue PythonSampler::sample_independent(const Study&, const Trial& trial, const std::string& name,
                                             const Distribution& dist) {
    return with_python([&] {
        const py::function f = method(this, "sample_independent");
        if (!f)
            throw py::type_error(
                "a sampler subclassing ISampler must define sample_independent(trial, name, distribution)");
        const py::object out = f(detached(trial), name, distribution_dict(dist));
        ParamValue value = to_param_value(out, "sample_independent('" + name + "')");
        if (const double* x = std::get_if<double>(&value); x && dist.index() == 1) {
            throw py::value_error("sample_independent('" + name + "') returned a float for an int parameter");
        }
        if (const int* x = std::get_if<int>(&value); x && dist.index() == 0) value = static_cast<double>(*x);
        if (!can_produce(dist, value)) {
            throw py::value_error("sample_independent('" + name + "') returned " + py::repr(out).cast<std::string>() +
                                  ", which the parameter's distribution cannot produce");
        }
        return value;
    });
}

void PythonSampler::after_trial(const Study&, const Trial& trial) {
    with_python([&] {
        if (const py::function f = method(this, "after_trial")) f(detached(trial));
    });
}

ParamMap PythonSampler::propose(const History& history, const Trial& trial, SamplerState*) {
    return with_python([&] {
        const py::function f = method(this, "propose");
        if (!f) return ParamMap{};
        auto copy = std::make_unique<PythonHistory>();
        copy->directions = history.directions;
        for (const auto& [id, stored] : history.trials) copy->trials.push_back(stored);
        for (const ParamMap* p : history.pending) copy->pending.push_back(*p);
        const py::object out = f(py::cast(std::move(copy)), detached(trial));
        if (out.is_none()) return ParamMap{};
        if (!py::isinstance<py::dict>(out))
            throw py::type_error("propose must return a dict of parameter values or None");
        return to_param_map(out.cast<py::dict>());
    });
}

std::shared_ptr<ISampler> keep_python_part(std::shared_ptr<ISampler> sampler, py::handle object) {
    if (!dynamic_cast<PythonSampler*>(sampler.get())) return sampler;
    ISampler* const raw = sampler.get();
    // Owns a reference to the Python object; dropped with the interpreter lock, or left to the
    // interpreter once it is being torn down.
    const std::shared_ptr<PyObject> keeper(object.inc_ref().ptr(), [](PyObject* o) {
        if (interpreter_finalizing()) return;
        const PyGILState_STATE state = PyGILState_Ensure();
        Py_DECREF(o);
        PyGILState_Release(state);
    });
    return {keeper, raw};
}

void bind_python_sampler(py::class_<ISampler, PythonSampler, std::shared_ptr<ISampler>>& cls) {
    // The interface itself is no sampler: only a subclass is made (as its alias).
    cls.def(py::init(
        []() -> ISampler* {
            throw py::type_error(
                "ISampler is an interface: subclass it and define sample_independent(trial, name, "
                "distribution)");
        },
        [] { return new PythonSampler(); }));
    py::class_<PythonHistory>(cls, "History", "What propose reads of the study, copied for the call.")
        .def_property_readonly("directions", [](const PythonHistory& h) { return h.directions; })
        .def_property_readonly(
            "trials",
            [](const PythonHistory& h) {
                py::list out;
                for (const StoredTrial& t : h.trials) out.append(detached(*t));
                return out;
            },
            "The study's stored trials, ascending number: finished ones, and running ones that a database keeps.")
        .def_property_readonly(
            "pending",
            [](const PythonHistory& h) {
                py::list out;
                for (const ParamMap& p : h.pending) out.append(py::cast(p));
                return out;
            },
            "The configurations of the study's other running trials, as dicts.");
}

}  // namespace tarvex::python
