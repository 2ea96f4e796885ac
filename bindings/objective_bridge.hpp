// How a Python objective runs inside the core's optimisation loop.
#pragma once

#include <pybind11/stl.h>

#include <memory>
#include <vector>

#include "bindings.hpp"

namespace tarvex::python {

// What every objective call needs, kept on the stack of the optimize call that outlives them
// all; the core's objective captures only a pointer to it, so copies need no interpreter lock.
struct PythonObjective {
    PyObject* callable;
    PyObject* pruned_type;  // the module's TrialPruned: raising it (or a subclass) prunes
};

// Lends the running trial to Python for one call. The trial moves into a Python-owned Trial and
// back afterwards; if Python kept a reference, that object stays behind as a detached copy, so
// no Python object ever points at the core's stack.
class TrialLoan {
public:
    explicit TrialLoan(Trial& trial) : home(trial) {
        auto owned = std::make_unique<Trial>(std::move(trial));
        lent = owned.get();
        view = py::cast(std::move(owned));
    }
    TrialLoan(const TrialLoan&) = delete;
    TrialLoan& operator=(const TrialLoan&) = delete;
    ~TrialLoan() {
        bool kept = view.ref_count() > 1;
        if (kept) {
            try {
                home = *lent;
            } catch (...) {  // no memory for the copy: Python keeps an emptied trial instead
                kept = false;
            }
        }
        if (!kept) home = std::move(*lent);
        lent->suggest_hook = nullptr;
        lent->prune_hook = nullptr;
    }
    PyObject* ptr() const { return view.ptr(); }

private:
    Trial& home;
    Trial* lent;  // owned by view
    py::object view;
};

// Called on whichever thread runs the trial; the lock is taken here and nowhere else.
template <class Result>
Result call_objective(const PythonObjective& objective, Trial& trial) {
    const py::gil_scoped_acquire gil;
    const TrialLoan loan(trial);
    PyObject* raw = PyObject_CallOneArg(objective.callable, loan.ptr());
    if (!raw) {
        if (PyErr_ExceptionMatches(objective.pruned_type)) {
            PyErr_Clear();
            throw TrialPruned();
        }
        throw py::error_already_set();
    }
    const auto result = py::reinterpret_steal<py::object>(raw);
    return py::cast<Result>(result);
}

}  // namespace tarvex::python
