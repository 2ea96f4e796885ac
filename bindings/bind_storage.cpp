#include <pybind11/stl.h>

#include "bindings.hpp"
#include "tarvex/database_storage.hpp"

namespace tarvex::python {
namespace {

// Whether a Ctrl-C arrived: asked while a call on the main thread waits for the database. The
// signal's Python handler runs now, and what it raised (KeyboardInterrupt) is raised again once
// the wait has been given up.
std::function<bool()> signal_check() {
    const auto main = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    return [main] {
        if (PyThread_get_thread_ident() != main || interpreter_finalizing()) return false;
        const py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0) return false;
        PyErr_Clear();
        return true;
    };
}

std::shared_ptr<DatabaseStorage> open_storage(const std::string& url, double heartbeat_grace, double timeout,
                                              bool create, bool read_only) {
    StorageOptions options;
    options.heartbeat_grace = heartbeat_grace;
    options.timeout = timeout;
    options.create = create;
    options.read_only = read_only;
    options.interrupted = signal_check();
    const py::gil_scoped_release released;  // the database may take a while to answer
    return DatabaseStorage::open(url, options);
}

}  // namespace

void bind_storage(py::module_& m) {
    using Released = py::call_guard<py::gil_scoped_release>;  // database round trips need no interpreter

    py::register_exception<DuplicateStudy>(m, "DuplicateStudyError", PyExc_ValueError).attr("__doc__") =
        "A study of that name exists already in the storage.";
    // A wait given up for a Ctrl-C is the KeyboardInterrupt it was; a missing SQLite file is one.
    py::register_exception_translator([](std::exception_ptr error) {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const StorageInterrupted&) {
            PyErr_SetNone(PyExc_KeyboardInterrupt);
        } catch (const StorageNotFound& e) {
            PyErr_SetString(PyExc_FileNotFoundError, e.what());
        }
    });

    py::class_<StudyRecord>(m, "StudyRecord", "A study kept in a DatabaseStorage.")
        .def_readonly("id", &StudyRecord::id)
        .def_readonly("name", &StudyRecord::name)
        .def_readonly("directions", &StudyRecord::directions)
        .def_readonly("objective_names", &StudyRecord::objective_names, "One name per direction, or empty.")
        .def("__repr__", [](const StudyRecord& r) {
            return "<StudyRecord " + py::repr(py::str(r.name)).cast<std::string>() + " id=" + std::to_string(r.id) +
                   ">";
        });

    py::class_<DatabaseStorage, std::shared_ptr<DatabaseStorage>>(
        m, "DatabaseStorage",
        "Studies kept by name in a database that processes and hosts share: sqlite:///path.db or "
        "postgresql://user@host:port/database. Running trials keep a heartbeat; one whose process has been silent "
        "for heartbeat_grace seconds (at least 0.5) is marked failed (\"heartbeat lost\"). Every wait for the "
        "database gives up after timeout seconds, and on Ctrl-C. Only create=True makes a missing database; "
        "otherwise a missing SQLite file raises FileNotFoundError. A read_only storage writes nothing (it marks no "
        "trial lost and upgrades no schema) and refuses what would write with StorageError.")
        .def(py::init(&open_storage), py::arg("url"), py::arg("heartbeat_grace") = 60.0, py::kw_only(),
             py::arg("timeout") = 60.0, py::arg("create") = false, py::arg("read_only") = false)
        .def(
            "create_study",
            [](DatabaseStorage& db, const std::string& name, const std::vector<StudyDirection>& directions,
               const std::vector<std::string>& objective_names) {
                return db.create_study(name, directions, objective_names);
            },
            py::arg("name"), py::arg("directions"), py::kw_only(),
            py::arg("objective_names") = std::vector<std::string>{}, Released(),
            "Raises DuplicateStudyError (a ValueError) when a study of that name exists. objective_names: one "
            "distinct name per direction, or none.")
        .def("load_study", &DatabaseStorage::load_study, py::arg("name"), Released(),
             "Raises IndexError when there is none.")
        .def("delete_study", &DatabaseStorage::delete_study, py::arg("name"), Released(),
             "Deletes the study and its trials; raises IndexError when there is none.")
        .def("studies", &DatabaseStorage::studies, Released())
        .def("set_study_user_attr", &DatabaseStorage::set_study_user_attr, py::arg("study"), py::arg("key"),
             py::arg("value"), Released(), "Sets one of the study's own user attributes (text).")
        .def("study_user_attrs", &DatabaseStorage::study_user_attrs, py::arg("study"), Released(),
             "The study's own user attributes.")
        .def("interrupt", &DatabaseStorage::interrupt,
             "Gives up, within a second, every wait for the database in every thread (after a Ctrl-C taken "
             "elsewhere).")
        .def_property_readonly("url", &DatabaseStorage::url, "The URL, every password replaced by ***.")
        .def_property_readonly("heartbeat_grace", &DatabaseStorage::heartbeat_grace_seconds)
        .def_property_readonly("timeout", &DatabaseStorage::timeout_seconds)
        .def_property_readonly("read_only", &DatabaseStorage::read_only)
        .def("__repr__", [](const DatabaseStorage& s) { return "<DatabaseStorage " + s.url() + ">"; });
}

}  // namespace tarvex::python
