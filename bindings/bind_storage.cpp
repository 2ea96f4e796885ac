#include <pybind11/stl.h>

#include "bindings.hpp"
#include "tarvex/database_storage.hpp"

namespace tarvex::python {

void bind_storage(py::module_& m) {
    using Released = py::call_guard<py::gil_scoped_release>;  // database round trips need no interpreter

    py::class_<StudyRecord>(m, "StudyRecord", "A study kept in a DatabaseStorage.")
        .def_readonly("id", &StudyRecord::id)
        .def_readonly("name", &StudyRecord::name)
        .def_readonly("directions", &StudyRecord::directions)
        .def("__repr__", [](const StudyRecord& r) {
            return "<StudyRecord " + py::repr(py::str(r.name)).cast<std::string>() + " id=" + std::to_string(r.id) + ">";
        });

    py::class_<DatabaseStorage, std::shared_ptr<DatabaseStorage>>(
        m, "DatabaseStorage",
        "Studies kept by name in a database that processes and hosts share: sqlite:///path.db or "
        "postgresql://user@host:port/database. Running trials keep a heartbeat; one silent for heartbeat_grace "
        "seconds is marked failed (\"heartbeat lost\").")
        .def(py::init(&DatabaseStorage::open), py::arg("url"), py::arg("heartbeat_grace") = 60.0, Released())
        .def("create_study", &DatabaseStorage::create_study, py::arg("name"), py::arg("directions"), Released(),
             "Raises ValueError when a study of that name exists.")
        .def("load_study", &DatabaseStorage::load_study, py::arg("name"), Released(),
             "Raises IndexError when there is none.")
        .def("delete_study", &DatabaseStorage::delete_study, py::arg("name"), Released(),
             "Deletes the study and its trials; raises IndexError when there is none.")
        .def("studies", &DatabaseStorage::studies, Released())
        .def_property_readonly("url", &DatabaseStorage::url, "The URL, its password replaced by ***.")
        .def_property_readonly("heartbeat_grace", &DatabaseStorage::heartbeat_grace_seconds)
        .def("__repr__", [](const DatabaseStorage& s) { return "<DatabaseStorage " + s.url() + ">"; });
}

}  // namespace tarvex::python
