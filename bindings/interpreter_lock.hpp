// Taking and giving up the interpreter lock from the core's threads.
//
// While the interpreter finalises, CPython (3.10 to 3.13) ends any thread that asks for the interpreter lock
// by unwinding its stack (ThreadExit). Such a thread holds no lock and may touch no Python object
// any more, and the unwind must never meet a destructor that takes the lock (a destructor is
// noexcept: the process would terminate). So the lock is taken back in plain code, the references
// held across Python calls are released by hand, and on that unwind everything is left as it is.
#pragma once

#include <chrono>
#include <exception>
#include <thread>
#include <type_traits>

#include "bindings.hpp"
#include "tarvex/thread_exit.hpp"

namespace tarvex::python {

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
        if (interpreter_finalizing()) park_thread();
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

}  // namespace tarvex::python
