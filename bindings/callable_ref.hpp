// The objective argument of the run bindings: any callable, without taking a reference.
#pragma once

#include "bindings.hpp"

namespace tarvex::python {

// The objective argument: any callable, borrowed for the call (the caller's reference outlives
// it), so leaving the call never releases a Python reference, even on a thread being ended.
struct CallableRef {
    PyObject* ptr = nullptr;
};

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
