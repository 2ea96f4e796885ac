#include <pybind11/stl.h>

#include <limits>

#include "bindings.hpp"
#include "objective_bridge.hpp"
#include "tarvex/database_storage.hpp"
#include "tarvex/pruners.hpp"
#include "tarvex/samplers.hpp"

namespace tarvex::python {
namespace {

std::vector<Trial> guarded(std::vector<Trial> trials, const BoundStudy& study) {
    for (Trial& t : trials) t = guard_hooks(std::move(t), study.alive);
    return trials;
}

// Whether the study's own storage waits on a database: its calls are made without the
// interpreter lock, so that other threads run meanwhile.
bool stored_remotely(const Study& study) { return study.storage->is_slow(); }

// Suggestions that fit a model or write to a database; a random draw kept in memory costs less
// than releasing the lock.
bool samples_slowly(const Study& study) { return study.sampler->is_slow() || stored_remotely(study); }

// f(), without the interpreter lock when the study's storage is a database.
template <class F>
auto storage_call(const Study& study, F&& f) {
    if (!stored_remotely(study)) return f();
    const py::gil_scoped_release released;
    return f();
}

bool is_bytes_like(const py::handle& h) { return PyBytes_Check(h.ptr()) || PyByteArray_Check(h.ptr()); }

// A str as UTF-8; one that UTF-8 cannot encode (a lone surrogate) is refused by name.
std::string utf8_of(const py::handle& text, const std::string& where) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (!utf8) {
        PyErr_Clear();
        throw py::value_error(where + ": text must be valid Unicode, without lone surrogates.");
    }
    return {utf8, static_cast<std::size_t>(size)};
}

}  // namespace

ParamValue to_param_value(const py::handle& value, const std::string& where) {
    if (Py_IS_TYPE(value.ptr(), &PyBool_Type)) return value.ptr() == Py_True ? 1 : 0;
    if (PyFloat_Check(value.ptr())) return PyFloat_AS_DOUBLE(value.ptr());
    if (is_bytes_like(value)) {
        throw py::type_error(where + ": a value is a bool, int, float or str, not " +
                             std::string(Py_TYPE(value.ptr())->tp_name) + ".");
    }
    if (PyUnicode_Check(value.ptr())) return utf8_of(value, where);
    // The binding library's cast error, saying which value it was and what fits.
    const auto cast_error = [&](const std::string& why) {
        return std::runtime_error("Unable to cast Python instance of type " +
                                  py::repr(py::type::of(value)).cast<std::string>() +
                                  " to C++ type 'ParamValue': " + where + " " + why);
    };
    if (PyLong_Check(value.ptr())) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
        if (!overflow && v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())
            return static_cast<int>(v);
        PyErr_Clear();
        throw cast_error("does not fit a 32-bit int (-2**31 to 2**31 - 1).");
    }
    throw cast_error("must be a bool, int, float or str.");
}

ParamMap to_param_map(const py::dict& params) {
    ParamMap out;
    for (const auto& [key, value] : params) {
        if (is_bytes_like(key)) {
            throw py::type_error("params: parameter names must be str, not " + py::repr(key).cast<std::string>() + ".");
        }
        std::string name = utf8_of(PyUnicode_Check(key.ptr()) ? key : py::str(key), "params");
        ParamValue v = to_param_value(value, "params['" + name + "']");
        out.insert_or_assign(std::move(name), std::move(v));
    }
    return out;
}

void bind_study(py::module_& m) {
    using SamplerPtr = std::shared_ptr<ISampler>;
    using PrunerPtr = std::shared_ptr<IPruner>;
    // Captured by the optimize bindings, so a rebound module attribute does not change pruning.
    const py::object pruned_type = m.attr("TrialPruned");

    py::class_<BoundStudy, std::unique_ptr<BoundStudy>>(m, "Study")
        .def(py::init<StudyDirection, SamplerPtr, PrunerPtr>(), py::arg("direction"), py::arg("sampler") = py::none(),
             py::arg("pruner") = py::none())
        .def(py::init<std::vector<StudyDirection>, SamplerPtr, PrunerPtr>(), py::arg("directions"),
             py::arg("sampler") = py::none(), py::arg("pruner") = py::none())
        .def_static(
            "in_storage",
            [](const std::shared_ptr<DatabaseStorage>& storage, const StudyRecord& record, SamplerPtr sampler,
               PrunerPtr pruner) {
                if (!storage) throw py::type_error("in_storage: storage must be a DatabaseStorage, not None");
                return std::make_unique<BoundStudy>(record.directions, std::move(sampler), std::move(pruner),
                                                    storage->study_storage(record));
            },
            py::arg("storage"), py::arg("study"), py::arg("sampler") = py::none(), py::arg("pruner") = py::none(),
            "The study of record kept in storage; its trials are read from there and new ones written there.")
        .def(
            "optimize",
            [pruned_type](BoundStudy& study, CallableRef objective, int n_trials, int n_jobs,
                          std::optional<double> timeout) {
                ViewPool views;
                const PythonObjective callback{objective.ptr, pruned_type.ptr(), samples_slowly(study), views};
                without_interpreter_lock([&] {
                    study.optimize([&callback](Trial& t) { return call_objective<double>(callback, t); }, n_trials,
                                   n_jobs, timeout);
                });
            },
            py::arg("objective"), py::arg("n_trials"), py::arg("n_jobs") = 1, py::arg("timeout") = py::none())
        .def(
            "optimize_mo",
            [pruned_type](BoundStudy& study, CallableRef objective, int n_trials, int n_jobs) {
                ViewPool views;
                const PythonObjective callback{objective.ptr, pruned_type.ptr(), samples_slowly(study), views};
                without_interpreter_lock([&] {
                    study.optimize_mo(
                        [&callback](Trial& t) { return call_objective<std::vector<double>>(callback, t); }, n_trials,
                        n_jobs, std::nullopt);
                });
            },
            py::arg("objective"), py::arg("n_trials"), py::arg("n_jobs") = 1)
        .def(
            "run",
            [pruned_type](BoundStudy& study, CallableRef objective, int n_trials, int n_jobs,
                          std::optional<double> timeout, bool multi_objective, std::optional<CallableRef> on_trial_end,
                          const py::object& trial_type) {
                InterruptibleRun run{study};
                ViewPool views(trial_type_of(trial_type));
                const PythonObjective callback{objective.ptr, pruned_type.ptr(), samples_slowly(study), views, &run};
                TrialEnd on_end;
                if (on_trial_end) {
                    on_end = [fn = on_trial_end->ptr, alive = std::weak_ptr<const bool>(study.alive),
                              &run](const Trial& t) { call_trial_end(fn, t, alive, run); };
                }
                bool failed = false;
                try {
                    without_interpreter_lock([&] {
                        if (multi_objective) {
                            study.optimize_mo(
                                [&callback](Trial& t) { return call_objective<std::vector<double>>(callback, t); },
                                n_trials, n_jobs, timeout, on_end);
                        } else {
                            study.optimize([&callback](Trial& t) { return call_objective<double>(callback, t); },
                                           n_trials, n_jobs, timeout, on_end);
                        }
                    });
                } catch (const std::exception&) {
                    // Storing the trial a Ctrl-C failed may fail in turn (a storage given up on):
                    // the interruption is what the caller hears of.
                    if (!run.interrupted.load()) throw;
                    failed = true;
                }
                if (run.interrupted.load() || failed) {  // the run stopped for it: raised now that it is over
                    PyErr_SetNone(PyExc_KeyboardInterrupt);
                    throw py::error_already_set();
                }
            },
            py::arg("objective"), py::arg("n_trials"), py::arg("n_jobs") = 1, py::arg("timeout") = py::none(),
            py::arg("multi_objective") = false, py::arg("on_trial_end") = py::none(),
            py::arg("trial_type") = py::none(),
            "optimize or optimize_mo (multi_objective), calling on_trial_end(trial) with every finished trial once "
            "it is stored. A KeyboardInterrupt in the objective (its trial fails, \"interrupted\") or in on_trial_end "
            "stops the run and is raised again once the running trials have ended. The objective receives instances "
            "of trial_type, a subclass of Trial, when given.")
        .def(
            "stop", [](BoundStudy& study) { study.stop(); },
            "Stops the run in progress from starting trials; those running finish.")
        .def(
            "ask",
            [](BoundStudy& study, const py::object& trial_type) {
                PyObject* const type = trial_type_of(trial_type);
                auto trial =
                    std::make_unique<Trial>(guard_hooks(storage_call(study, [&] { return study.ask(); }), study.alive));
                if (samples_slowly(study)) trial->suggest_hook = released(std::move(trial->suggest_hook));
                if (trial->prune_hook) trial->prune_hook = released(std::move(trial->prune_hook));
                if (trial->progress_hook) trial->progress_hook = released(std::move(trial->progress_hook));
                return trial_object(std::move(trial), type);
            },
            py::arg("trial_type") = py::none(),
            "A new running trial for a loop the caller drives (an instance of trial_type, a subclass of Trial, when "
            "given); finish it with tell.")
        .def(
            "tell",
            [](BoundStudy& study, const Trial& trial, TrialState state, std::vector<double> values,
               std::optional<std::string> fail_reason) {
                Trial told = trial;  // copied while the lock keeps other threads off it
                // Without the interpreter lock for a sampler that takes it inside the study's locks.
                const auto tell = [&] {
                    study.tell(std::move(told), state, std::move(values), std::move(fail_reason));
                };
                if (samples_slowly(study)) return without_interpreter_lock(tell);
                tell();
            },
            py::arg("trial"), py::arg("state"), py::arg("values") = std::vector<double>{},
            py::arg("fail_reason") = py::none(),
            "Finishes an asked trial: Complete with one value per direction, or Pruned or Failed with none.")
        .def(
            "enqueue_trial",
            [](BoundStudy& study, const py::dict& params) {
                const ParamMap map = to_param_map(params);
                storage_call(study, [&] { study.enqueue_trial(map); });
            },
            py::arg("params"))
        .def(
            "add_trial",
            [](BoundStudy& study, const py::dict& params, const std::vector<double>& values) {
                const ParamMap map = to_param_map(params);
                std::vector<std::string> order;
                for (const auto& [key, value] : params)
                    order.push_back(utf8_of(PyUnicode_Check(key.ptr()) ? key : py::str(key), "params"));
                storage_call(study, [&] { study.add_trial(map, values, std::move(order)); });
            },
            py::arg("params"), py::arg("values"))
        .def(
            "copy_trial",
            [](BoundStudy& study, const Trial& trial) {
                const Trial copy = trial;  // copied while the lock keeps other threads off it
                return storage_call(study, [&] { return study.copy_trial(copy); });
            },
            py::arg("trial"),
            "Stores the trial as it is (state, parameters, values, reports, attributes, times) as this study's "
            "next trial; returns its number.")
        .def_property_readonly("best_value",
                               [](const BoundStudy& s) { return storage_call(s, [&] { return s.best_value(); }); })
        .def_property_readonly(
            "best_params",
            [](const BoundStudy& s) { return ordered_params(storage_call(s, [&] { return s.best_trial(); })); })
        .def(
            "table",
            [](const BoundStudy& s, const py::function& decode, bool intermediate) {
                return trial_table(s, stored_remotely(s), decode, intermediate);
            },
            py::arg("decode"), py::kw_only(), py::arg("intermediate") = false,
            "The trials as a dict of columns, each a list: number, state, value (or values_0, values_1, ...), "
            "params_NAME, datetime_start and datetime_complete (local time, nanoseconds), user_attrs_KEY, fail_reason "
            "and, with intermediate, intermediate_values (a dict {step: value} per trial); texts decoded by decode; "
            "missing values None, other missing cells NaN.")
        .def_property_readonly(
            "n_trials",
            [](const BoundStudy& s) { return storage_call(s, [&] { return s.storage->n_trials(s.study_id); }); },
            "How many trials the study holds (with a database storage, running ones included).")
        .def_property_readonly(
            "best_trial",
            [](const BoundStudy& s) { return guard_hooks(storage_call(s, [&] { return s.best_trial(); }), s.alive); })
        .def_property_readonly(
            "trials", [](const BoundStudy& s) { return guarded(storage_call(s, [&] { return s.trials(); }), s); })
        .def(
            "trials_since",
            [](const BoundStudy& s, std::uint64_t cursor) {
                std::vector<StoredTrial> changed =
                    storage_call(s, [&] { return s.storage->trials_since(s.study_id, cursor); });
                std::vector<Trial> out;
                out.reserve(changed.size());
                for (const StoredTrial& t : changed) {
                    out.push_back(*t);
                    out.back().study_id = s.study_id;
                }
                return py::make_tuple(guarded(std::move(out), s), cursor);
            },
            py::arg("cursor"),
            "The trials stored or changed since cursor (0: every trial), oldest change first, and the cursor "
            "that follows them: how a reader that keeps what it read fetches only what is new. A trial changed "
            "twice comes once, in its newest version.")
        .def_property_readonly(
            "pareto_front",
            [](const BoundStudy& s) { return guarded(storage_call(s, [&] { return s.pareto_front(); }), s); })
        .def_property_readonly("n_directions", [](const BoundStudy& s) { return s.directions.size(); })
        .def_property_readonly("directions", [](const BoundStudy& s) { return s.directions; })
        .def_property_readonly("study_id", [](const BoundStudy& s) { return s.study_id; });

    m.def("trials_table", &trials_table, py::arg("trials"), py::arg("n_values"), py::arg("decode"), py::kw_only(),
          py::arg("intermediate") = false,
          "Study.table's columns for the given trials (in the order given) of a study with n_values directions.");
}

}  // namespace tarvex::python
