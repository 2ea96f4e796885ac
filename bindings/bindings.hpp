// Shared pieces of the _tarvex module: the registration steps and the conversions
// that more than one of them needs.
#pragma once

#include <pybind11/cast.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "tarvex/pruners.hpp"
#include "tarvex/samplers.hpp"
#include "tarvex/study.hpp"

// Text crosses the boundary as str only. Declared before the rest of the binding library, whose
// own inline code converts strings too. A str that UTF-8 cannot encode (a lone surrogate) is not
// text either. On the way out, bytes that are not UTF-8 (possible only from native callers) come
// back escaped as surrogates, so reading stored text never fails.
namespace pybind11::detail {
template <>
struct type_caster<std::string> {
    PYBIND11_TYPE_CASTER(std::string, const_name("str"));
    bool load(handle src, bool) {
        if (!src || !PyUnicode_Check(src.ptr())) return false;
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(src.ptr(), &size);
        if (!utf8) {
            PyErr_Clear();
            return false;
        }
        value.assign(utf8, static_cast<std::size_t>(size));
        return true;
    }
    static handle cast(const std::string& text, return_value_policy, handle) {
        PyObject* const out =
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
        if (!out) throw error_already_set();
        return out;
    }
};
}  // namespace pybind11::detail

#include <pybind11/pybind11.h>

namespace tarvex::python {

namespace py = pybind11;

// Whether the interpreter is being torn down. The call joined the public C API in 3.13; the
// interpreters before it have it under a private name.
inline bool interpreter_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

// The raised exception (a new reference), the error indicator cleared. 3.12 made it one call.
inline PyObject* take_raised_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value && traceback) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

// The study as Python owns it. The token expires with the study, so trial copies handed to
// Python can tell that the study their hooks point to is gone.
class BoundStudy : public Study {
public:
    using Study::Study;
    std::shared_ptr<const bool> alive = std::make_shared<const bool>(true);
};

// A sampler as the core holds it; one that Python subclassed keeps its Python object alive with
// it (python_sampler.hpp).
std::shared_ptr<ISampler> keep_python_part(std::shared_ptr<ISampler> sampler, pybind11::handle object);

}  // namespace tarvex::python

namespace pybind11::detail {

// An instance made by __new__ alone holds no object yet, and the generic conversion would hand
// out fresh uninitialised memory as one. Such an instance does not convert: the call raises TypeError.
// Checked against the caster's own type record, so the common case costs one type test.
inline bool is_uninitialised(handle src, const type_info* type) {
    if (!src || !type || !PyObject_TypeCheck(src.ptr(), type->type)) return false;
    auto* const inst = reinterpret_cast<instance*>(src.ptr());
    if (inst->simple_layout) return !inst->simple_holder_constructed;
    for (const value_and_holder& v_h : values_and_holders(inst)) {
        if (!v_h.holder_constructed()) return true;
    }
    return false;
}

template <class T>
class initialised_caster : public type_caster_base<T> {
public:
    bool load(handle src, bool convert) {
        return !is_uninitialised(src, this->typeinfo) && type_caster_base<T>::load(src, convert);
    }
};

template <class T>
class initialised_shared_caster : public copyable_holder_caster<T, std::shared_ptr<T>> {
public:
    bool load(handle src, bool convert) {
        return !is_uninitialised(src, this->typeinfo) &&
               copyable_holder_caster<T, std::shared_ptr<T>>::load(src, convert);
    }
};

template <>
class type_caster<tarvex::Trial> : public initialised_caster<tarvex::Trial> {};
template <>
class type_caster<tarvex::python::BoundStudy> : public initialised_caster<tarvex::python::BoundStudy> {};
template <>
class type_caster<std::shared_ptr<tarvex::ISampler>> : public initialised_shared_caster<tarvex::ISampler> {
    using base = initialised_shared_caster<tarvex::ISampler>;

public:
    bool load(handle src, bool convert) {
        source = src;
        return base::load(src, convert);
    }
    explicit operator std::shared_ptr<tarvex::ISampler>&() {
        auto& held = base::operator std::shared_ptr<tarvex::ISampler>&();
        if (source && held) held = tarvex::python::keep_python_part(std::move(held), source);
        source = handle();
        return held;
    }

private:
    handle source;
};
template <>
class type_caster<std::shared_ptr<tarvex::IPruner>> : public initialised_shared_caster<tarvex::IPruner> {};

}  // namespace pybind11::detail

namespace tarvex::python {

// A stored trial copy whose hooks refuse politely once its study has been destroyed.
Trial guard_hooks(Trial trial, const std::weak_ptr<const bool>& study_alive);
// A distribution as a dict: kind ("float", "int" or "categorical") and low, high, log, step or choices.
py::dict distribution_dict(const Distribution& dist);
// The trial's parameters as a dict, in the order the trial got them.
py::dict ordered_params(const Trial& t);
// The study's trials as a dict of columns (number, state, value or values_<i>, params_<name>,
// datetime_start and datetime_complete in local nanoseconds, user_attrs_<key>, fail_reason),
// texts decoded by decode; missing values are None, other missing cells NaN. release: without
// the interpreter lock while
// the storage is read. intermediate: an intermediate_values column too, a dict {step: value} per trial.
py::dict trial_table(const Study& study, bool release, const py::function& decode, bool intermediate = false);
// The same columns for the given trials (core Trial objects, in the order given) of a study of
// n_values directions: a reader that keeps trials it fetched itself tabulates them so.
py::dict trials_table(const py::sequence& trials, std::size_t n_values, const py::function& decode, bool intermediate);
// The public package's suggest operations, on the Trial class.
void def_checked_suggest(py::class_<Trial, std::unique_ptr<Trial>>& cls);

// A Python dict of parameters as the core's map: bool and int become int, float double, the
// rest must be a str. Non-str keys are replaced by str(key); bytes, as keys or values, are
// refused with TypeError: they are not text.
ParamMap to_param_map(const py::dict& params);
// One such value; where names the argument in messages.
ParamValue to_param_value(const py::handle& value, const std::string& where);

// A parameter asked for as another kind than the value the trial holds or was enqueued, as the
// package's suggest calls find it.
class ParamKindMismatch : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

void bind_errors(py::module_& m);
void bind_enums(py::module_& m);
void bind_trial(py::module_& m);
void bind_study(py::module_& m);
void bind_samplers(py::module_& m);
void bind_tpe_sampler(py::module_& m);
void bind_sampler_classes(py::module_& m);
void bind_gp_sampler(py::module_& m);
void bind_cmaes_sampler(py::module_& m);
void bind_auto_sampler(py::module_& m);
void bind_multi_objective(py::module_& m);
void bind_nsga2_sampler(py::module_& m);
void bind_pruners(py::module_& m);
void bind_storage(py::module_& m);

}  // namespace tarvex::python
