// The public package's suggest calls, bound directly so that its trials run no Python code:
// keyword arguments, and checks that say in one line what was wrong (a bound that is no number, a
// name asked again as another kind or with other bounds, an enqueued value of another kind).
#include <pybind11/stl.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "bindings.hpp"

namespace tarvex::python {
namespace {

std::string type_name(const py::handle& h) { return Py_TYPE(h.ptr())->tp_name; }

std::string shown(const py::handle& h) {
    std::string text = py::repr(h).cast<std::string>();
    return text.size() <= 40 ? text : text.substr(0, 37) + "...";
}

double number_arg(const py::handle& h, const std::string& call, const char* arg) {
    if (PyFloat_Check(h.ptr())) return PyFloat_AS_DOUBLE(h.ptr());
    if (!PyUnicode_Check(h.ptr()) && !PyBytes_Check(h.ptr())) {
        const double v = PyFloat_AsDouble(h.ptr());
        if (!(v == -1.0 && PyErr_Occurred())) return v;
        PyErr_Clear();
    }
    throw py::type_error(call + ": " + arg + " must be a number, got " + shown(h) + " (" + type_name(h) + ")");
}

int int_arg(const py::handle& h, const std::string& call, const char* arg) {
    if (PyFloat_Check(h.ptr())) {
        throw py::type_error(call + ": " + arg + " must be an int, got " + shown(h) + " (a float)");
    }
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(h.ptr()));  // int, bool, numpy ints
    if (!index) {
        PyErr_Clear();
        throw py::type_error(call + ": " + arg + " must be an int, got " + shown(h) + " (" + type_name(h) + ")");
    }
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
        throw py::value_error(call + ": " + arg + " must fit a 32-bit int (-2**31 to 2**31 - 1), got " + shown(h));
    }
    return static_cast<int>(v);
}

std::string number_text(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

std::string described(const Distribution& dist) {
    return std::visit(
        [](const auto& d) -> std::string {
            using D = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<D, CategoricalDist>) {
                return "as a categorical of " + std::to_string(d.choices.size()) + " choices";
            } else {
                const bool is_float = std::is_same_v<D, FloatDist>;
                std::string text = std::string("as ") + (is_float ? "a float" : "an int") + " in [";
                if constexpr (std::is_same_v<D, FloatDist>) {
                    text += number_text(d.low) + ", " + number_text(d.high) + "]";
                    if (d.step) text += " step " + number_text(*d.step);
                } else {
                    text += std::to_string(d.low) + ", " + std::to_string(d.high) + "]";
                    if (d.step != 1) text += " step " + std::to_string(d.step);
                }
                return d.log ? text + " log" : text;
            }
        },
        dist);
}

const char* kind_of(const ParamValue& v) {
    return v.index() == 0 ? "a float" : v.index() == 1 ? "an int" : "a text value";
}

// A name the trial holds: it must be asked as it was first asked, and it returns its value.
template <class T>
const T* held(const Trial& t, const std::string& name, const std::string& call, const Distribution& asked) {
    const auto value = t.params.find(name);
    if (value == t.params.end()) return nullptr;
    const T* v = std::get_if<T>(&value->second);
    const auto first = t.distributions.find(name);
    if (first != t.distributions.end() && first->second != asked) {
        throw std::invalid_argument(call + ": '" + name + "' was suggested in this trial " + described(first->second) +
                                    ", and is now asked " + described(asked) +
                                    "; a parameter keeps its distribution within a trial");
    }
    if (!v) {
        throw ParamKindMismatch(call + ": '" + name + "' holds " + kind_of(value->second) +
                                " in this trial; a parameter keeps its kind within a trial");
    }
    return v;
}

// An enqueued value that the suggestion cannot return; a double for an int is rounded.
void check_fixed(const Trial& t, const std::string& name, const std::string& call, bool numeric) {
    const auto fixed = t.fixed_params.find(name);
    if (fixed == t.fixed_params.end()) return;
    if (numeric && std::holds_alternative<std::string>(fixed->second)) {
        throw ParamKindMismatch(call + ": the value enqueued for '" + name + "' is the text " +
                                std::get<std::string>(fixed->second) + ", not a number");
    }
}

// A number enqueued for a categorical parameter counts as the choice that spells it.
void fix_number_as_choice(Trial& t, const std::string& name, const std::vector<std::string>& choices) {
    const auto fixed = t.fixed_params.find(name);
    if (fixed == t.fixed_params.end() || std::holds_alternative<std::string>(fixed->second)) return;
    std::vector<std::string> spellings;
    if (const int* i = std::get_if<int>(&fixed->second)) {
        spellings.push_back(std::to_string(*i));
    } else {
        const double d = std::get<double>(fixed->second);
        if (std::isnan(d)) {
            spellings.emplace_back("NaN");
        } else if (std::isinf(d)) {
            spellings.emplace_back(d > 0 ? "Infinity" : "-Infinity");
        } else {
            spellings.push_back(py::repr(py::float_(d)).cast<std::string>());
            if (d == std::floor(d) && std::abs(d) < 1e18)
                spellings.push_back(std::to_string(static_cast<long long>(d)));
        }
    }
    for (const std::string& s : spellings) {
        if (std::find(choices.begin(), choices.end(), s) != choices.end()) {
            fixed->second = s;
            return;
        }
    }
    fixed->second = spellings.front();  // not among the choices: returned as it is, like any enqueued value
}

}  // namespace

void def_checked_suggest(py::class_<Trial, std::unique_ptr<Trial>>& cls) {
    cls.def(
           "suggest_float_kw",
           [](Trial& t, const std::string& name, const py::handle& low, const py::handle& high, const py::handle& step,
              bool log) {
               const std::string call = "suggest_float('" + name + "')";
               const std::optional<double> s =
                   step.is_none() ? std::nullopt : std::optional(number_arg(step, call, "step"));
               const FloatDist dist{number_arg(low, call, "low"), number_arg(high, call, "high"), log, s};
               if (const double* v = held<double>(t, name, call, dist)) return *v;
               check_fixed(t, name, call, true);
               validate_distribution(name, dist);  // one message form, whichever sampler answers
               return t.suggest_float(name, dist.low, dist.high, log, s);
           },
           py::arg("name"), py::arg("low"), py::arg("high"), py::arg("step") = py::none(), py::arg("log") = false,
           "A float in [low, high]: uniform, on a log scale (log=True, low > 0), or on the grid low, low + step, ... "
           "(step).")
        .def(
            "suggest_int_kw",
            [](Trial& t, const std::string& name, const py::handle& low, const py::handle& high, const py::handle& step,
               bool log) {
                const std::string call = "suggest_int('" + name + "')";
                const IntDist dist{int_arg(low, call, "low"), int_arg(high, call, "high"), log,
                                   int_arg(step, call, "step")};
                if (const int* v = held<int>(t, name, call, dist)) return *v;
                check_fixed(t, name, call, true);
                validate_distribution(name, dist);
                return t.suggest_int(name, dist.low, dist.high, log, dist.step);
            },
            py::arg("name"), py::arg("low"), py::arg("high"), py::arg("step") = 1, py::arg("log") = false,
            "An int in [low, high] on the grid low, low + step, ..., or on a log scale (log=True, low > 0).")
        .def(
            "suggest_categorical_kw",
            [](Trial& t, const std::string& name, std::vector<std::string> choices) {
                const std::string call = "suggest_categorical('" + name + "')";
                if (choices.empty()) throw std::invalid_argument(call + ": choices must not be empty");
                if (const std::string* v = held<std::string>(t, name, call, CategoricalDist{choices})) return *v;
                fix_number_as_choice(t, name, choices);
                return t.suggest_categorical(name, std::move(choices));
            },
            py::arg("name"), py::arg("choices"), "One of choices, given as the texts that the package makes of them.");
}

}  // namespace tarvex::python
