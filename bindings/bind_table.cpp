// A study's trials as columns: one pass over the storage and one Python list per column, so that
// a table of a million trials costs no Python object per trial besides its cells.
#include <algorithm>
#include <ctime>
#include <limits>
#include <optional>
#include <unordered_map>

#include "bindings.hpp"

namespace tarvex::python {
namespace {

// A time point as the naive local datetime the Trial properties give, in nanoseconds since the
// epoch of that local calendar (microseconds kept, as there).
std::int64_t local_ns(TimePoint t) {
    const std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    std::int64_t seconds = ns / 1'000'000'000, micros = (ns % 1'000'000'000) / 1000;
    if (micros < 0) {
        micros += 1'000'000;
        seconds -= 1;
    }
    const std::time_t whole = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&whole, &local)) return ns;
    return static_cast<std::int64_t>(timegm(&local)) * 1'000'000'000 + micros * 1000;
}

// The cells of one column that some trials have: their rows and values.
template <class Value>
struct Sparse {
    std::string name;
    std::vector<std::size_t> rows;
    std::vector<Value> values;
};

struct Collected {
    std::vector<std::int32_t> number;
    std::vector<TrialState> state;
    std::vector<std::vector<double>> values;    // by trial: its values
    std::vector<std::int64_t> start, complete;  // complete 0: still running
    std::vector<Sparse<ParamValue>> params;
    std::unordered_map<std::string, std::size_t> param_at;
    std::vector<Sparse<std::string>> attrs;
    std::unordered_map<std::string, std::size_t> attr_at;
    Sparse<std::string> fail_reasons;
    Sparse<std::vector<double>> constraints;
    std::size_t n_constraints = 0;  // the most any trial has
    bool with_reports = false;
    Sparse<std::vector<std::pair<std::int32_t, double>>> reports;

    template <class Value>
    static Sparse<Value>& column(std::vector<Sparse<Value>>& columns, std::unordered_map<std::string, std::size_t>& at,
                                 const std::string& name) {
        const auto [it, added] = at.try_emplace(name, columns.size());
        if (added) columns.push_back({name, {}, {}});
        return columns[it->second];
    }

    void add(const Trial& t) {
        const std::size_t row = number.size();
        number.push_back(t.trial_id);
        state.push_back(t.state);
        values.push_back(t.values);
        start.push_back(local_ns(t.datetime_start));
        complete.push_back(t.state == TrialState::Running ? 0 : local_ns(t.datetime_complete));
        for (const auto* p : t.ordered_params().params) {
            auto& c = column(params, param_at, p->first);
            c.rows.push_back(row);
            c.values.push_back(p->second);
        }
        for (const auto& [key, value] : t.user_attrs) {
            auto& c = column(attrs, attr_at, key);
            c.rows.push_back(row);
            c.values.push_back(value);
        }
        if (t.fail_reason) {
            fail_reasons.rows.push_back(row);
            fail_reasons.values.push_back(*t.fail_reason);
        }
        if (!t.constraints.empty()) {
            constraints.rows.push_back(row);
            constraints.values.push_back(t.constraints);
            n_constraints = std::max(n_constraints, t.constraints.size());
        }
        if (with_reports && !t.intermediate_values.empty()) {
            reports.rows.push_back(row);
            reports.values.push_back(t.intermediate_values);
        }
    }
};

// Decodes the text a cell holds, once per distinct text where the result cannot change under
// its user (numbers, text, None, booleans).
class Decoder {
public:
    explicit Decoder(const py::function& decode) : decode(decode) {}
    py::object operator()(const std::string& text) {
        if (const auto it = cache.find(text); it != cache.end()) return it->second;
        py::object value = decode(py::cast(text));
        if (!py::isinstance<py::list>(value) && !py::isinstance<py::dict>(value)) cache.emplace(text, value);
        return value;
    }

private:
    const py::function& decode;
    std::unordered_map<std::string, py::object> cache;
};

py::list filled(std::size_t n, const py::object& value) {
    py::list out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = value;
    return out;
}

}  // namespace

namespace {

py::dict columns_of(const Collected& c, std::size_t n_values, const py::function& decode, bool intermediate) {
    const std::size_t n = c.number.size();
    const py::object nan = py::float_(std::numeric_limits<double>::quiet_NaN());
    py::dict out;
    py::list number(n), state(n), start(n), complete(n);
    const py::str names[] = {py::str("Running"), py::str("Complete"), py::str("Pruned"), py::str("Failed")};
    for (std::size_t i = 0; i < n; ++i) {
        number[i] = py::int_(c.number[i]);
        state[i] = names[static_cast<int>(c.state[i])];
        start[i] = py::int_(c.start[i]);
        complete[i] = c.complete[i] ? py::object(py::int_(c.complete[i])) : py::object(py::none());
    }
    out["number"] = number;
    out["state"] = state;
    for (std::size_t k = 0; k < n_values; ++k) {
        py::list column(n);
        for (std::size_t i = 0; i < n; ++i) {
            column[i] =
                c.values[i].size() == n_values ? py::object(py::float_(c.values[i][k])) : py::object(py::none());
        }
        out[py::str(n_values == 1 ? std::string("value") : "values_" + std::to_string(k))] = column;
    }
    // Only a study with constraints has these columns: constraints_K, NaN where a trial has none.
    for (std::size_t k = 0; k < c.n_constraints; ++k) {
        py::list column = filled(n, nan);
        for (std::size_t j = 0; j < c.constraints.rows.size(); ++j) {
            const auto& held = c.constraints.values[j];
            if (k < held.size()) column[c.constraints.rows[j]] = py::float_(held[k]);
        }
        out[py::str("constraints_" + std::to_string(k))] = column;
    }
    Decoder decoded(decode);
    for (const auto& p : c.params) {
        py::list column = filled(n, nan);
        for (std::size_t j = 0; j < p.rows.size(); ++j) {
            const ParamValue& v = p.values[j];
            column[p.rows[j]] = v.index() == 0   ? py::object(py::float_(std::get<double>(v)))
                                : v.index() == 1 ? py::object(py::int_(std::get<int>(v)))
                                                 : decoded(std::get<std::string>(v));
        }
        out[py::cast("params_" + p.name)] = column;
    }
    out["datetime_start"] = start;
    out["datetime_complete"] = complete;
    for (const auto& a : c.attrs) {
        py::list column = filled(n, nan);
        for (std::size_t j = 0; j < a.rows.size(); ++j) column[a.rows[j]] = decoded(a.values[j]);
        out[py::cast("user_attrs_" + a.name)] = column;
    }
    py::list reasons = filled(n, py::none());
    for (std::size_t j = 0; j < c.fail_reasons.rows.size(); ++j)
        reasons[c.fail_reasons.rows[j]] = py::cast(c.fail_reasons.values[j]);
    out["fail_reason"] = reasons;
    if (intermediate) {
        // A learning curve per trial, {step: value}; a step reported twice keeps its last value.
        py::list curves(n);
        for (std::size_t i = 0; i < n; ++i) curves[i] = py::dict();
        for (std::size_t j = 0; j < c.reports.rows.size(); ++j) {
            py::dict curve = curves[c.reports.rows[j]];
            for (const auto& [step, value] : c.reports.values[j]) curve[py::int_(step)] = py::float_(value);
        }
        out["intermediate_values"] = curves;
    }
    return out;
}

}  // namespace

py::dict trial_table(const Study& study, bool release, const py::function& decode, bool intermediate) {
    Collected c;
    c.with_reports = intermediate;
    {
        std::optional<py::gil_scoped_release> released;
        if (release) released.emplace();
        study.storage->visit_trials(study.study_id, [&c](const Trial& t) { c.add(t); });
    }
    return columns_of(c, study.directions.size(), decode, intermediate);
}

py::dict trials_table(const py::sequence& trials, std::size_t n_values, const py::function& decode, bool intermediate) {
    Collected c;
    c.with_reports = intermediate;
    for (const py::handle item : trials) c.add(item.cast<const Trial&>());
    return columns_of(c, n_values, decode, intermediate);
}

}  // namespace tarvex::python
