// How a Python objective runs inside the core's optimisation loop: the run it belongs to, the
// trial lent to Python for each call, and what its errors become.
#pragma once

#include <pybind11/stl.h>

#include <atomic>
#include <memory>
#include <string>

#include "bindings.hpp"
#include "callable_ref.hpp"
#include "interpreter_lock.hpp"
#include "python_error.hpp"
#include "trial_objects.hpp"

namespace tarvex::python {

// What every objective call needs, kept on the stack of the optimize call that outlives them
// all; the core's objective captures only a pointer to it, so copies need no interpreter lock.
// A run that a KeyboardInterrupt in its Python code stops.
struct InterruptibleRun {
    Study& study;
    std::atomic<bool> interrupted{false};

    // Whether the error being raised is a KeyboardInterrupt; if so the run stops.
    bool take_interrupt() {
        if (!PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) return false;
        interrupted.store(true);
        study.stop();
        return true;
    }
};

struct PythonObjective {
    PyObject* callable;
    PyObject* pruned_type;   // the module's TrialPruned: raising it (or a subclass) prunes
    bool release_to_sample;  // sampling fits a model or waits on a database: other workers run meanwhile
    ViewPool& views;
    InterruptibleRun* run = nullptr;  // null: an interrupted objective only fails its trial
};

// Lends the running trial to Python for one call. The trial moves into a Python-owned Trial and
// back afterwards; if Python kept a reference, that object stays behind as a detached copy, so
// no Python object ever points at the core's stack. Built and destroyed with the lock held.
// While lent, pruning, and (for a model-fitting sampler or a database) sampling and recording
// release the lock.
class TrialLoan {
public:
    TrialLoan(Trial& trial, const PythonObjective& objective)
        : home(trial),
          suggest_hook(trial.suggest_hook),
          prune_hook(trial.prune_hook),
          progress_hook(trial.progress_hook),
          pool(objective.views),
          view(pool.take()) {
        Trial& lent = *view.trial;
        lent = std::move(trial);
        if (objective.release_to_sample && lent.suggest_hook) lent.suggest_hook = released(lent.suggest_hook);
        if (lent.prune_hook) lent.prune_hook = released(lent.prune_hook);
        if (lent.progress_hook) lent.progress_hook = released(lent.progress_hook);
    }
    TrialLoan(const TrialLoan&) = delete;
    TrialLoan& operator=(const TrialLoan&) = delete;
    ~TrialLoan() {
        if (abandoned) return;  // the thread is being ended: the object is left to the interpreter
        Trial& lent = *view.trial;
        bool kept = Py_REFCNT(view.object) > 1;
        if (kept) {
            try {
                home = lent;
            } catch (const std::bad_alloc&) {  // no memory for the copy: Python keeps an emptied trial
                kept = false;
            }
        }
        if (!kept) home = std::move(lent);
        home.suggest_hook = std::move(suggest_hook);
        home.prune_hook = std::move(prune_hook);
        home.progress_hook = std::move(progress_hook);
        lent.suggest_hook = nullptr;
        lent.prune_hook = nullptr;
        lent.progress_hook = nullptr;
        if (kept) {
            Py_DECREF(view.object);  // Python's now: a detached copy of the finished trial
        } else {
            pool.give_back(view);
        }
    }
    PyObject* ptr() const { return view.object; }
    void abandon() { abandoned = true; }

private:
    Trial& home;
    Trial::SuggestHook suggest_hook;  // the study's own hooks, given back with the trial
    Trial::PruneHook prune_hook;
    Trial::ProgressHook progress_hook;
    ViewPool& pool;
    ViewPool::View view;
    bool abandoned = false;
};

// The objective's raised error as the core sees it: TrialPruned (or a subclass) prunes,
// anything else fails the trial.
[[noreturn]] inline void throw_objective_error(const PythonObjective& objective) {
    if (PyErr_ExceptionMatches(objective.pruned_type)) {
        PyErr_Clear();
        throw TrialPruned();
    }
    if (objective.run) objective.run->take_interrupt();
    throw_python_error();
}

// Hands a finished trial to fn as a Python copy whose hooks stop working with the study. A
// KeyboardInterrupt stops the run; anything else fn raises leaves the run.
TARVEX_PASSES_THREAD_EXIT inline void call_trial_end(PyObject* fn, const Trial& trial,
                                                     const std::weak_ptr<const bool>& alive, InterruptibleRun& run) {
    InterpreterLock lock;
    PyObject* copy = nullptr;
    try {
        copy = py::cast(guard_hooks(trial, alive)).release().ptr();
        PyObject* const raw = PyObject_CallOneArg(fn, copy);
        Py_DECREF(copy);
        copy = nullptr;
        if (!raw && run.take_interrupt()) {
            PyErr_Clear();
            return;
        }
        if (!raw) throw_python_error();
        Py_DECREF(raw);
    } catch (const ThreadExit&) {
        lock.abandon();
        throw;
    } catch (...) {
        Py_XDECREF(copy);
        throw;
    }
}

// Called on whichever thread runs the trial; the lock is taken here and nowhere else.
template <class Result>
TARVEX_PASSES_THREAD_EXIT Result call_objective(const PythonObjective& objective, Trial& trial) {
    InterpreterLock lock;
    TrialLoan loan(trial, objective);
    try {
        PyObject* const raw = PyObject_CallOneArg(objective.callable, loan.ptr());
        if (!raw) throw_objective_error(objective);
        Result result;
        try {
            result = py::cast<Result>(py::handle(raw));
        } catch (const ThreadExit&) {
            throw;
        } catch (...) {
            Py_DECREF(raw);
            throw;
        }
        Py_DECREF(raw);
        return result;
    } catch (const ThreadExit&) {
        loan.abandon();
        lock.abandon();
        throw;
    }
}

}  // namespace tarvex::python
