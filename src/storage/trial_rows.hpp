// Trials as rows of the database: the statements that write a trial's parts and the reads that
// rebuild trials from them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sql_connection.hpp"
#include "tarvex/study.hpp"

namespace tarvex::detail {

// Every write transaction that changes a trial starts by moving the change counter on and marks
// the trial with its new value. Writers do so in commit order (the counter's row stays locked
// until they commit), so a reader that has seen change c has seen every change up to c.
extern const SqlStatement kNextChange;
extern const std::string kChange;  // the counter's current value, in SQL

// The statement that sets a trial row's change to the counter's.
SqlStatement mark_changed(std::int64_t trial_row);

struct ParamRow {
    const std::string* name;
    const ParamValue* value;
    const Distribution* dist;  // null for a parameter given by hand
    std::int64_t position;     // among the trial's parameters, from 0
};
struct ReportRow {
    std::int64_t index;  // among the trial's reports, from 0
    std::int32_t step;
    double value;
};
using AttrRow = std::pair<const std::string*, const std::string*>;

// Inserts of a trial's parts, appended to out: one statement per batch of rows, in a few fixed
// batch sizes, so that the number of distinct prepared statements stays small. Those that may
// meet a row already there replace it.
void insert_params(std::vector<SqlStatement>& out, std::int64_t trial_row, const std::vector<ParamRow>& params);
void insert_values(std::vector<SqlStatement>& out, std::int64_t trial_row, const std::vector<double>& values);
void insert_reports(std::vector<SqlStatement>& out, std::int64_t trial_row, const std::vector<ReportRow>& reports);
// table is tarvex_user_attrs or tarvex_system_attrs.
void insert_attrs(std::vector<SqlStatement>& out, const std::string& table, std::int64_t trial_row,
                  const std::vector<AttrRow>& attrs);

// The first step of a read: the trial rows matching where (which may use params). The second step,
// made from its rows, reads their parts by key: reading those by key rather than through a join
// keeps every read an index lookup, whatever plan the database would choose for a join.
SqlStatement trial_rows(const std::string& where, std::vector<SqlValue> params);
std::vector<SqlStatement> part_reads(const SqlRows& trials);

// The trials of a two-step read whose trial rows are rows[trials_at] and parts follow from
// rows[parts_at], each with its change number, in the order of their rows' keys.
std::vector<std::pair<std::int64_t, Trial>> trials_of(const std::vector<SqlRows>& rows, std::size_t trials_at,
                                                      std::size_t parts_at, int study_id);

}  // namespace tarvex::detail
