#include <algorithm>
#include <limits>
#include <stdexcept>

#include "distribution_text.hpp"
#include "heartbeat.hpp"
#include "schema.hpp"
#include "sql_connection.hpp"
#include "storage_text.hpp"
#include "storage_url.hpp"
#include "tarvex/database_storage.hpp"
#include "trial_rows.hpp"

namespace tarvex {
namespace {

using detail::now_ns;
using detail::ns_of;
using detail::SqlError;
using detail::SqlRow;
using detail::SqlStatement;
using detail::SqlValue;
using detail::too_long;
using detail::too_long_message;
using detail::Transaction;

}  // namespace

int DatabaseStorage::start_trial(std::int64_t study_id) {
    const auto lock = use_to_write("starting a trial");
    const std::int64_t worker = heartbeat->worker_id(*db);
    const std::string now = db->now_sql();
    // Numbers are taken with the change counter locked, so none is taken twice; the unique key
    // would refuse it anyway. The oldest enqueued parameter set goes with the new trial.
    // A worker idle for a while beats as its trial starts: the trial is never judged by an old beat.
    const bool beat = heartbeat->needs_beat();
    std::vector<SqlStatement> writes{
        detail::kNextChange,
        {"INSERT INTO tarvex_trials (study_id, number, state, datetime_start, datetime_complete, heartbeat, change, "
         "worker_id)"
         " VALUES ($1, (SELECT COALESCE(MAX(number) + 1, 0) FROM tarvex_trials WHERE study_id = $1), " +
             detail::kRunning + ", $2, 0, " + now + ", " + detail::kChange + ", $3) RETURNING number, trial_id",
         {study_id, now_ns(), worker}},
        {"DELETE FROM tarvex_enqueued WHERE enqueued_id = (SELECT min(enqueued_id) FROM tarvex_enqueued WHERE study_id "
         "= $1)"
         " RETURNING params",
         {study_id}}};
    if (beat) writes.push_back({"UPDATE tarvex_workers SET last_seen = " + now + " WHERE worker_id = $1", {worker}});
    const auto rows = db->transaction(Transaction::Fleeting, writes);
    if (beat) heartbeat->beaten();
    const SqlRow& started = rows.at(1).at(0);
    if (started.integer(0) > std::numeric_limits<int>::max())
        throw std::overflow_error("trial number beyond the 32-bit range");
    const int number = static_cast<int>(started.integer(0));
    LiveTrial trial{started.integer(1), std::nullopt, {}, 0, {}};
    if (!rows.at(2).empty()) trial.enqueued = detail::param_map_from_text(rows[2][0].text(0));
    live.insert_or_assign({study_id, number}, std::move(trial));
    heartbeat->set_running(true);
    return number;
}

DatabaseStorage::LiveTrial* DatabaseStorage::record_running(
    std::int64_t study_id, int number, const std::function<void(std::vector<SqlStatement>&, std::int64_t)>& add,
    const char* name_kind, const std::string& name) {
    const auto it = live.find({study_id, number});
    if (it == live.end()) return nullptr;  // not running here: stored whole when it is stored
    std::vector<SqlStatement> writes{detail::kNextChange};
    add(writes, it->second.row);
    writes.push_back(detail::mark_changed(it->second.row));
    try {
        db->transaction(Transaction::Fleeting, writes);
    } catch (const SqlError& e) {
        if (too_long(e)) throw std::invalid_argument(too_long_message(url(), name_kind, name));
        throw;
    }
    return &it->second;
}

void DatabaseStorage::record_param(std::int64_t study_id, int number, const std::string& name, const Distribution& dist,
                                   const ParamValue& value) {
    const auto lock = use();
    const auto it = live.find({study_id, number});
    const auto position = it == live.end() ? 0 : static_cast<std::int64_t>(it->second.params.size());
    const auto add = [&](std::vector<SqlStatement>& writes, std::int64_t row) {
        detail::insert_params(writes, row, {{&name, &value, &dist, position}});
    };
    if (LiveTrial* trial = record_running(study_id, number, add, "the parameter name", name)) {
        trial->params.insert_or_assign(name, std::pair(value, dist));
    }
}

void DatabaseStorage::record_report(std::int64_t study_id, int number, std::size_t index, std::int32_t step,
                                    double value) {
    const auto lock = use();
    const auto add = [&](std::vector<SqlStatement>& writes, std::int64_t row) {
        detail::insert_reports(writes, row, {{static_cast<std::int64_t>(index), step, value}});
    };
    if (LiveTrial* trial = record_running(study_id, number, add, "the report", "")) {
        trial->n_reports = std::max(trial->n_reports, index + 1);
    }
}

void DatabaseStorage::record_user_attr(std::int64_t study_id, int number, const std::string& key,
                                       const std::string& value) {
    const auto lock = use();
    const auto add = [&](std::vector<SqlStatement>& writes, std::int64_t row) {
        detail::insert_attrs(writes, "tarvex_user_attrs", row, {{&key, &value}});
    };
    if (LiveTrial* trial = record_running(study_id, number, add, "the user attribute key", key)) {
        trial->user_attrs.insert_or_assign(key, value);
    }
}

std::map<std::string, std::string> DatabaseStorage::finish_trial(std::int64_t study_id, const Trial& trial) {
    const auto lock = use_to_write("storing a trial");
    // Whether or not it is stored, this process is done with the trial: one it could not store
    // stops beating and is declared lost after the grace period.
    LiveTrial done{};
    const auto it = live.find({study_id, trial.trial_id});
    const bool ran_here = it != live.end();
    if (ran_here) {
        done = std::move(it->second);
        live.erase(it);
        if (live.empty()) heartbeat->set_running(false);
    } else {
        const auto rows = db->query("SELECT trial_id FROM tarvex_trials WHERE study_id = $1 AND number = $2",
                                    {study_id, static_cast<std::int64_t>(trial.trial_id)});
        if (rows.empty())
            throw std::invalid_argument(url() + ": trial " + std::to_string(trial.trial_id) + " was never started");
        done.row = rows.front().integer(0);
    }
    const std::int64_t row = done.row;
    std::vector<SqlStatement> writes{detail::kNextChange};
    // A trial that another process declared lost while this one still ran it keeps its result;
    // the declaration is kept as a system attribute.
    std::size_t presumed_at = 0;
    if (ran_here) {
        presumed_at = writes.size();
        writes.push_back(
            {"INSERT INTO tarvex_system_attrs (trial_id, key, value) SELECT trial_id, 'presumed_lost',"
             " COALESCE(fail_reason, 'lost') FROM tarvex_trials WHERE trial_id = $1 AND state <> " +
                 detail::kRunning + " ON CONFLICT (trial_id, key) DO NOTHING RETURNING value",
             {row}});
    }
    const std::size_t updated_at = writes.size();
    writes.push_back(
        {"UPDATE tarvex_trials SET state = $2, datetime_start = $3, datetime_complete = $4, fail_reason = $5,"
         " constraints = $6, change = " +
             detail::kChange + " WHERE trial_id = $1 RETURNING trial_id",
         {row, static_cast<std::int64_t>(trial.state), ns_of(trial.datetime_start), ns_of(trial.datetime_complete),
          trial.fail_reason ? SqlValue(*trial.fail_reason) : SqlValue(std::monostate{}),
          trial.constraints.empty() ? SqlValue(std::monostate{}) : SqlValue(detail::numbers_text(trial.constraints))}});
    if (!ran_here) {
        for (const char* table :
             {"tarvex_params", "tarvex_values", "tarvex_reports", "tarvex_user_attrs", "tarvex_system_attrs"}) {
            writes.push_back({std::string("DELETE FROM ") + table + " WHERE trial_id = $1", {row}});
        }
    }
    // Only what was not recorded while the trial ran is written now.
    std::vector<detail::ParamRow> params;
    std::int64_t position = 0;
    const auto add_param = [&](const std::string& name, const ParamValue& value) {
        const auto dist = trial.distributions.find(name);
        const Distribution* d = dist == trial.distributions.end() ? nullptr : &dist->second;
        const auto recorded = done.params.find(name);
        const bool same =
            recorded != done.params.end() && recorded->second.first == value && d && recorded->second.second == *d;
        if (!same) params.push_back({&name, &value, d, position});
        ++position;
    };
    for (const auto* p : trial.ordered_params().params) add_param(p->first, p->second);
    detail::insert_params(writes, row, params);
    detail::insert_values(writes, row, trial.values);
    std::size_t first_report = done.n_reports;
    if (first_report > trial.intermediate_values.size()) {  // reports other than those recorded
        writes.push_back({"DELETE FROM tarvex_reports WHERE trial_id = $1", {row}});
        first_report = 0;
    }
    std::vector<detail::ReportRow> reports;
    for (std::size_t i = first_report; i < trial.intermediate_values.size(); ++i) {
        reports.push_back(
            {static_cast<std::int64_t>(i), trial.intermediate_values[i].first, trial.intermediate_values[i].second});
    }
    detail::insert_reports(writes, row, reports);
    std::vector<detail::AttrRow> attrs, system;
    for (const auto& [key, value] : trial.user_attrs) {
        const auto recorded = done.user_attrs.find(key);
        if (recorded == done.user_attrs.end() || recorded->second != value) attrs.emplace_back(&key, &value);
    }
    for (const auto& [key, value] : done.user_attrs) {
        if (!trial.user_attrs.contains(key)) {
            writes.push_back({"DELETE FROM tarvex_user_attrs WHERE trial_id = $1 AND key = $2", {row, key}});
        }
    }
    for (const auto& [key, value] : trial.system_attrs) system.emplace_back(&key, &value);
    detail::insert_attrs(writes, "tarvex_user_attrs", row, attrs);
    detail::insert_attrs(writes, "tarvex_system_attrs", row, system);

    std::vector<detail::SqlRows> rows;
    try {
        rows = db->transaction(Transaction::Durable, writes);
    } catch (const SqlError& e) {
        if (e.kind != SqlError::Kind::Refused) throw;
        // Stored as it is, the trial was refused: it is stored Failed, with why, rather than
        // left Running.
        const std::string why = too_long(e) ? "a name or key too long for this database's index" : e.what();
        db->transaction(
            Transaction::Durable,
            {detail::kNextChange,
             {"UPDATE tarvex_trials SET state = " + detail::kFailed +
                  ", datetime_complete = $2, fail_reason = $3, change = " + detail::kChange + " WHERE trial_id = $1",
              {row, ns_of(trial.datetime_complete), "could not be stored: " + why}}});
        throw SqlError(url() + ": trial " + std::to_string(trial.trial_id) + " could not be stored (" + why +
                       "); it is stored as Failed");
    }
    if (rows.at(updated_at).empty()) {
        throw SqlError(url() + ": trial " + std::to_string(trial.trial_id) + " is no longer in the database");
    }
    std::map<std::string, std::string> noted;
    if (ran_here && !rows.at(presumed_at).empty()) noted.emplace("presumed_lost", rows[presumed_at][0].text(0));
    return noted;
}

void DatabaseStorage::enqueue(std::int64_t study_id, const ParamMap& params) {
    const auto lock = use_to_write("enqueue_trial");
    db->transaction(Transaction::Durable, {{"INSERT INTO tarvex_enqueued (study_id, params) VALUES ($1, $2)",
                                            {study_id, detail::param_map_text(params)}}});
}

std::optional<ParamMap> DatabaseStorage::take_enqueued(std::int64_t study_id, int number) {
    const auto lock = use_to_write("taking an enqueued trial");
    const auto it = live.find({study_id, number});
    return it == live.end() ? std::nullopt : std::exchange(it->second.enqueued, std::nullopt);
}

}  // namespace tarvex
