// A Python error as the core's exception.
#pragma once

#include <stdexcept>
#include <string>

#include "bindings.hpp"

namespace tarvex::python {

// A Python exception from the objective, as text ("ValueError: bad x"). The Python error is
// released while the lock is held, so the exception can be dropped on any thread.
class ObjectiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The raised Python error as a core exception, the error cleared: its type and message, or
// "interrupted" for a KeyboardInterrupt.
[[noreturn]] inline void throw_python_error() {
    PyObject* const raised = take_raised_exception();
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

}  // namespace tarvex::python
