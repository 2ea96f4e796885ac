// How a Python objective runs inside the core's optimisation loop.
//
// While the interpreter finalises, CPython 3.13 ends any thread that asks for the interpreter lock
// by unwinding its stack (ThreadExit). Such a thread holds no lock and may touch no Python object
// any more, and the unwind must never meet a destructor that takes the lock (a destructor is
// noexcept: the process would terminate). So the lock is taken back in plain code, the references
// held across Python calls are released by hand, and on that unwind everything is left as it is.
#pragma once

#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "bindings.hpp"
#include "tarvex/thread_exit.hpp"

namespace tarvex::python {

// The objective argument: any callable, borrowed for the call (the caller's reference outlives
// it), so leaving the call never releases a Python reference, even on a thread being ended.
struct CallableRef {
    PyObject* ptr = nullptr;
};

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

// The type of the trial objects a call hands out: null (None) for _tarvex.Trial, else a Python
// subclass of it, such as the public package's trial.
inline PyObject* trial_type_of(const py::object& type) {
    if (type.is_none()) return nullptr;
    const auto* tinfo = py::detail::get_type_info(typeid(Trial));
    if (!PyType_Check(type.ptr()) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type.ptr()), tinfo->type)) {
        throw py::type_error("trial_type must be None or a subclass of _tarvex.Trial");
    }
    return type.ptr();
}

// A Python object owning trial, of type (see trial_type_of), made as the binding library makes
// its instances.
inline py::object trial_object(std::unique_ptr<Trial> trial, PyObject* type) {
    if (!type) return py::cast(std::move(trial));
    const auto* tinfo = py::detail::get_type_info(typeid(Trial));
    auto object =
        py::reinterpret_steal<py::object>(py::detail::make_new_instance(reinterpret_cast<PyTypeObject*>(type)));
    auto* const inst = reinterpret_cast<py::detail::instance*>(object.ptr());
    inst->get_value_and_holder(tinfo).value_ptr() = trial.get();
    inst->owned = true;
    tinfo->init_instance(inst, &trial);  // takes the holder over
    return object;
}

// The Python Trial objects of a run that are free to be lent the next trial: an object that
// Python did not keep after its call serves again, which saves making one per trial. Taken and
// given back with the interpreter lock held; emptied by its owner with the lock held too.
class ViewPool {
public:
    struct View {
        PyObject* object;  // owns trial
        Trial* trial;
    };
    explicit ViewPool(PyObject* type = nullptr) : type(type) {}
    ViewPool(const ViewPool&) = delete;
    ViewPool& operator=(const ViewPool&) = delete;
    ~ViewPool() {
        for (const View& v : free) Py_DECREF(v.object);
    }
    View take() {
        {
            const std::scoped_lock lock(mutex);
            if (!free.empty()) {
                const View v = free.back();
                free.pop_back();
                return v;
            }
        }
        auto owned = std::make_unique<Trial>(0, 0);
        Trial* const trial = owned.get();
        return {trial_object(std::move(owned), type).release().ptr(), trial};
    }
    void give_back(View v) {
        const std::scoped_lock lock(mutex);
        free.push_back(v);
    }

private:
    PyObject* const type;  // the objects' type; null for _tarvex.Trial
    std::mutex mutex;
    std::vector<View> free;  // guarded by mutex
};

struct PythonObjective {
    PyObject* callable;
    PyObject* pruned_type;   // the module's TrialPruned: raising it (or a subclass) prunes
    bool release_to_sample;  // sampling fits a model or waits on a database: other workers run meanwhile
    ViewPool& views;
    InterruptibleRun* run = nullptr;  // null: an interrupted objective only fails its trial
};

// A Python exception from the objective, as text ("ValueError: bad x"). The Python error is
// released while the lock is held, so the exception can be dropped on any thread.
class ObjectiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A thread that CPython ends while the core runs stops here for good instead of unwinding into
// the binding library's call frames, whose cleanup would release Python objects without the lock
// while the interpreter is torn down (CPython 3.14 parks such threads itself). The process ends
// with its main thread; this one holds no lock and no Python object.
[[noreturn]] inline void park_thread() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

// The interpreter lock for one objective call: the thread's own state when it has one (the
// caller of a serial run), else a fresh state that is deleted again on release. A thread that
// comes for it once the interpreter finalises has nothing left to run, and once finalisation
// has ended, asking for a thread state would crash: it stops before.
class InterpreterLock {
public:
    InterpreterLock() : state(acquire()) {}  // may end this thread: nothing to undo yet
    InterpreterLock(const InterpreterLock&) = delete;
    InterpreterLock& operator=(const InterpreterLock&) = delete;
    ~InterpreterLock() {
        if (held) PyGILState_Release(state);
    }
    void abandon() { held = false; }

private:
    static PyGILState_STATE acquire() {
        if (Py_IsFinalizing()) park_thread();
        return PyGILState_Ensure();
    }

    PyGILState_STATE state;
    bool held = true;
};

// Runs the core with the interpreter lock released and takes it back in plain code (see above).
template <class Run>
TARVEX_PASSES_THREAD_EXIT void without_interpreter_lock(const Run& run) {
    PyThreadState* const saved = PyEval_SaveThread();
    std::exception_ptr error;
    try {
        try {
            run();
        } catch (const ThreadExit&) {
            throw;
        } catch (...) {
            error = std::current_exception();
        }
        PyEval_RestoreThread(saved);  // ends this thread during finalisation
    } catch (const ThreadExit&) {
        park_thread();
    }
    if (error) std::rethrow_exception(error);
}

// A hook that runs without the interpreter lock. What the study's hooks read of the trial
// (its identifier, fixed parameters and reports) does not change while they run.
template <class Hook>
Hook released(Hook hook) {
    return [hook = std::move(hook)](auto&&... args) {
        if constexpr (std::is_void_v<decltype(hook(args...))>) {
            without_interpreter_lock([&] { hook(args...); });
        } else {
            decltype(hook(args...)) result{};
            without_interpreter_lock([&] { result = hook(args...); });
            return result;
        }
    };
}

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

// The raised Python error as a core exception, the error cleared: its type and message, or
// "interrupted" for a KeyboardInterrupt.
[[noreturn]] inline void throw_python_error() {
    PyObject* const raised = PyErr_GetRaisedException();
    std::string text = Py_TYPE(raised)->tp_name;
    if (PyErr_GivenExceptionMatches(raised, PyExc_KeyboardInterrupt)) {
        text = "interrupted";
    } else if (PyObject* const message = PyObject_Str(raised)) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(message, &size); utf8 && size > 0) {
            text.append(": ").append(utf8, static_cast<std::size_t>(size));
        }
        Py_DECREF(message);
    }
    PyErr_Clear();  // from a message that could not be formatted
    Py_DECREF(raised);
    throw ObjectiveError(text);
}

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

namespace pybind11::detail {

template <>
struct type_caster<tarvex::python::CallableRef> {
    PYBIND11_TYPE_CASTER(tarvex::python::CallableRef, const_name("collections.abc.Callable"));
    bool load(handle src, bool) {
        if (!src || !PyCallable_Check(src.ptr())) return false;
        value.ptr = src.ptr();
        return true;
    }
    static handle cast(const tarvex::python::CallableRef& src, return_value_policy, handle) {
        return handle(src.ptr).inc_ref();
    }
};

}  // namespace pybind11::detail
