// The Python objects that hold trials: of _tarvex.Trial or a subclass of it, made and reused.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "bindings.hpp"

namespace tarvex::python {

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
// its instances: its public API makes instances of the bound class only, not of a Python
// subclass holding a given object.
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

}  // namespace tarvex::python
