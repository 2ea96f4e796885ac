#include "trial_rows.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <map>
#include <stdexcept>

#include "distribution_text.hpp"

namespace tarvex::detail {
namespace {

using Clock = std::chrono::system_clock;

TimePoint time_of(std::int64_t ns) { return TimePoint(Clock::duration(ns)); }

int number_of(std::int64_t n) {
    if (n > std::numeric_limits<int>::max()) throw std::overflow_error("trial number beyond the 32-bit range");
    return static_cast<int>(n);
}

// Rows of one table, appended to out in batches of 64, 16, 4 and 1; bind appends a row's values.
template <class Row, class Bind>
void insert_batches(std::vector<SqlStatement>& out, const std::string& table, const std::string& columns, int width,
                    const std::vector<Row>& rows, const Bind& bind, const std::string& on_conflict = "") {
    std::size_t done = 0;
    for (const std::size_t batch : {64, 16, 4, 1}) {
        while (rows.size() - done >= batch) {
            std::string sql = "INSERT INTO " + table + " (" + columns + ") VALUES ";
            std::vector<SqlValue> params;
            for (std::size_t r = 0; r < batch; ++r) {
                sql += r ? ",(" : "(";
                for (int c = 0; c < width; ++c) sql += (c ? ",$" : "$") + std::to_string(r * width + c + 1);
                sql += ")";
                bind(rows[done + r], params);
            }
            sql += on_conflict;
            out.push_back({std::move(sql), std::move(params)});
            done += batch;
        }
    }
}

// The columns of the trial rows that trial_rows reads, in its SELECT's order.
enum TrialColumn : std::size_t {
    kRowKey,
    kState,
    kStart,
    kComplete,
    kFailReason,
    kChangeNumber,
    kNumber,
    kConstraints
};

// A parameter's kind column: ParamValue's alternative.
ParamValue param_of(const SqlRow& row, std::size_t kind_at) {
    switch (row.integer(kind_at)) {
        case 0:
            return row.real(kind_at + 1);
        case 1:
            return static_cast<int>(row.integer(kind_at + 1));
        default:
            return row.text(kind_at + 2);
    }
}

// The tables read by key, with their columns after the key, in the order trials_of reads them.
enum Part : std::size_t { kParams, kValues, kReports, kUserAttrs, kSystemAttrs, kParts };
constexpr const char* kPartReads[kParts][2] = {
    {"tarvex_params", "name, kind, number, text, distribution, position"},
    {"tarvex_values", "value"},
    {"tarvex_reports", "step, value"},
    {"tarvex_user_attrs", "key, value"},
    {"tarvex_system_attrs", "key, value"},
};

}  // namespace

const SqlStatement kNextChange{"UPDATE tarvex_meta SET number = number + 1 WHERE name = 'change'", {}};
const std::string kChange = "(SELECT number FROM tarvex_meta WHERE name = 'change')";

SqlStatement mark_changed(std::int64_t trial_row) {
    return {"UPDATE tarvex_trials SET change = " + kChange + " WHERE trial_id = $1", {trial_row}};
}

void insert_params(std::vector<SqlStatement>& out, std::int64_t trial_row, const std::vector<ParamRow>& params) {
    const auto bind = [&](const ParamRow& p, std::vector<SqlValue>& v) {
        v.emplace_back(trial_row);
        v.emplace_back(*p.name);
        v.emplace_back(static_cast<std::int64_t>(p.value->index()));
        if (const auto* d = std::get_if<double>(p.value)) {
            v.emplace_back(*d);
            v.emplace_back(std::monostate{});
        } else if (const auto* i = std::get_if<int>(p.value)) {
            v.emplace_back(static_cast<double>(*i));
            v.emplace_back(std::monostate{});
        } else {
            v.emplace_back(std::monostate{});
            v.emplace_back(std::get<std::string>(*p.value));
        }
        v.emplace_back(p.dist ? SqlValue(distribution_text(*p.dist)) : SqlValue(std::monostate{}));
        v.emplace_back(p.position);
    };
    insert_batches(out, "tarvex_params", "trial_id, name, kind, number, text, distribution, position", 7, params, bind,
                   " ON CONFLICT (trial_id, name) DO UPDATE SET kind = excluded.kind, number = excluded.number,"
                   " text = excluded.text, distribution = excluded.distribution, position = excluded.position");
}

void insert_values(std::vector<SqlStatement>& out, std::int64_t trial_row, const std::vector<double>& values) {
    std::vector<std::pair<std::int64_t, double>> rows;
    for (std::size_t i = 0; i < values.size(); ++i) rows.emplace_back(static_cast<std::int64_t>(i), values[i]);
    insert_batches(
        out, "tarvex_values", "trial_id, idx, value", 3, rows,
        [&](const auto& r, std::vector<SqlValue>& v) { v.insert(v.end(), {trial_row, r.first, r.second}); },
        " ON CONFLICT (trial_id, idx) DO UPDATE SET value = excluded.value");
}

void insert_reports(std::vector<SqlStatement>& out, std::int64_t trial_row, const std::vector<ReportRow>& reports) {
    insert_batches(
        out, "tarvex_reports", "trial_id, idx, step, value", 4, reports,
        [&](const ReportRow& r, std::vector<SqlValue>& v) {
            v.insert(v.end(), {trial_row, r.index, static_cast<std::int64_t>(r.step), r.value});
        },
        " ON CONFLICT (trial_id, idx) DO UPDATE SET step = excluded.step, value = excluded.value");
}

void insert_attrs(std::vector<SqlStatement>& out, const std::string& table, std::int64_t trial_row,
                  const std::vector<AttrRow>& attrs) {
    insert_batches(
        out, table, "trial_id, key, value", 3, attrs,
        [&](const AttrRow& a, std::vector<SqlValue>& v) { v.insert(v.end(), {trial_row, *a.first, *a.second}); },
        " ON CONFLICT (trial_id, key) DO UPDATE SET value = excluded.value");
}

SqlStatement trial_rows(const std::string& where, std::vector<SqlValue> params) {
    return {
        "SELECT t.trial_id, t.state, t.datetime_start, t.datetime_complete, t.fail_reason, t.change, t.number,"
        " t.constraints FROM tarvex_trials t WHERE " +
            where,
        std::move(params)};
}

// For each table, statements of 256, 64, 16, 4 and 1 keys.
std::vector<SqlStatement> part_reads(const SqlRows& trials) {
    std::vector<SqlStatement> out;
    for (const auto& [table, columns] : kPartReads) {
        std::size_t done = 0;
        for (const std::size_t batch : {256, 64, 16, 4, 1}) {
            while (trials.size() - done >= batch) {
                std::string sql =
                    std::string("SELECT trial_id, ") + columns + " FROM " + table + " WHERE trial_id IN (";
                std::vector<SqlValue> keys;
                for (std::size_t k = 0; k < batch; ++k) {
                    sql += (k ? ",$" : "$") + std::to_string(k + 1);
                    keys.emplace_back(trials[done + k].integer(kRowKey));
                }
                sql += ") ORDER BY trial_id";
                if (table == std::string("tarvex_values") || table == std::string("tarvex_reports")) sql += ", idx";
                if (table == std::string("tarvex_params")) sql += ", position, name";
                out.push_back({std::move(sql), std::move(keys)});
                done += batch;
            }
        }
    }
    return out;
}

std::vector<std::pair<std::int64_t, Trial>> trials_of(const std::vector<SqlRows>& rows, std::size_t trials_at,
                                                      std::size_t parts_at, int study_id) {
    std::map<std::int64_t, std::pair<std::int64_t, Trial>> trials;  // row key -> (change, trial)
    for (const SqlRow& r : rows.at(trials_at)) {
        Trial t(number_of(r.integer(kNumber)), study_id);
        t.state = static_cast<TrialState>(r.integer(kState));
        t.datetime_start = time_of(r.integer(kStart));
        t.datetime_complete = time_of(r.integer(kComplete));
        if (!r.is_null(kFailReason)) t.fail_reason = r.text(kFailReason);
        if (!r.is_null(kConstraints)) t.constraints = numbers_from_text(r.text(kConstraints));
        trials.emplace(r.integer(kRowKey), std::pair(r.integer(kChangeNumber), std::move(t)));
    }
    // The statements of each table come in the order part_reads made them: as many per table.
    const std::size_t per_table = (rows.size() - parts_at) / kParts;
    const auto trial = [&](const SqlRow& r) -> Trial& { return trials.at(r.integer(0)).second; };
    for (std::size_t part = 0; part < kParts; ++part) {
        for (std::size_t k = 0; k < per_table; ++k) {
            for (const SqlRow& r : rows[parts_at + part * per_table + k]) {
                Trial& t = trial(r);
                switch (part) {
                    case kParams:
                        t.params.insert_or_assign(r.text(1), param_of(r, 2));
                        if (!r.is_null(5))
                            t.distributions.insert_or_assign(r.text(1), distribution_from_text(r.text(5)));
                        t.param_order.push_back(r.text(1));  // by position; those written before positions, by name
                        break;
                    case kValues:
                        t.values.push_back(r.real(1));
                        break;
                    case kReports:
                        t.intermediate_values.emplace_back(static_cast<std::int32_t>(r.integer(1)), r.real(2));
                        break;
                    case kUserAttrs:
                        t.user_attrs.insert_or_assign(r.text(1), r.text(2));
                        break;
                    default:
                        t.system_attrs.insert_or_assign(r.text(1), r.text(2));
                }
            }
        }
    }
    std::vector<std::pair<std::int64_t, Trial>> out;
    out.reserve(trials.size());
    for (auto& [key, entry] : trials) out.push_back(std::move(entry));
    return out;
}

}  // namespace tarvex::detail
