#include "bindings.hpp"
#include "tarvex/database_storage.hpp"

namespace tarvex::python {
namespace {

// An exception class of the module deriving from every base given, so that the clauses callers
// already write for the standard type keep catching it.
void error_class(py::module_& m, const char* name, const char* doc, const py::tuple& bases) {
    py::dict body;
    body["__doc__"] = doc;
    body["__module__"] = "_tarvex";
    const py::object cls =
        py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type))(name, bases, body);
    m.attr(name) = cls;
}

}  // namespace

void bind_errors(py::module_& m) {
    const py::handle lookup_bases[] = {PyExc_KeyError, PyExc_IndexError};
    error_class(m, "StudyNotFoundError", "No study of that name in the storage (a KeyError and an IndexError).",
                py::make_tuple(lookup_bases[0], lookup_bases[1]));
    error_class(m, "StorageError",
                "The storage failed: the database refused a statement, or the connection was lost or timed out.",
                py::make_tuple(py::handle(PyExc_RuntimeError)));
    error_class(m, "ParamKindError",
                "A parameter asked for as another kind than the value it holds (a ValueError and a RuntimeError).",
                py::make_tuple(py::handle(PyExc_ValueError), py::handle(PyExc_RuntimeError)));
    // Translators are plain functions: the classes are looked up in the module when raised.
    py::register_exception_translator([](std::exception_ptr error) {
        const auto raise = [](const char* name, const std::exception& e) {
            PyErr_SetString(py::module_::import("_tarvex").attr(name).ptr(), e.what());
        };
        try {
            if (error) std::rethrow_exception(error);
        } catch (const StudyNotFound& e) {
            raise("StudyNotFoundError", e);
        } catch (const StorageError& e) {
            raise("StorageError", e);
        } catch (const ParamKindError& e) {
            raise("ParamKindError", e);
        } catch (const ParamKindMismatch& e) {
            raise("ParamKindError", e);
        }
    });
}

}  // namespace tarvex::python
