#include "tarvex/database_storage.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "../common/plain_text.hpp"
#include "distribution_text.hpp"
#include "heartbeat.hpp"
#include "schema.hpp"
#include "sql_connection.hpp"
#include "storage_url.hpp"
#include "trial_rows.hpp"

namespace tarvex {
namespace {

using detail::SqlError;
using detail::SqlRow;
using detail::SqlStatement;
using detail::SqlValue;
using detail::Transaction;
using Clock = std::chrono::system_clock;

std::int64_t now_ns() { return Clock::now().time_since_epoch().count(); }
std::int64_t ns_of(TimePoint t) { return t.time_since_epoch().count(); }

std::string directions_text(const std::vector<StudyDirection>& directions) {
    std::string out;
    for (const StudyDirection d : directions) {
        if (!out.empty()) out += ',';
        out += d == StudyDirection::Maximize ? "maximize" : "minimize";
    }
    return out;
}

std::vector<StudyDirection> directions_of(const std::string& text) {
    std::vector<StudyDirection> out;
    std::istringstream in(text);
    for (std::string d; std::getline(in, d, ',');) out.push_back(d == "maximize" ? StudyDirection::Maximize : StudyDirection::Minimize);
    return out;
}

StudyRecord record_of(const SqlRow& row) { return {row.integer(0), row.text(1), directions_of(row.text(2))}; }

// A name for messages: long ones are cut.
std::string shown(const std::string& text) {
    const std::string plain = detail::shown_text(text);
    return plain.size() <= 60 ? plain : plain.substr(0, 57) + "...";
}

// PostgreSQL's "index row size exceeds maximum": a name or key too long to be a key.
bool too_long(const SqlError& e) { return e.code == "54000"; }

std::string too_long_message(const std::string& url, const char* what, const std::string& text) {
    return url + ": " + what + " '" + shown(text) + "' (" + std::to_string(text.size()) +
           " bytes) is too long for this database's index; use a shorter one";
}

// A running trial in a process that is gone (heartbeat older than the grace period), judged on
// the database's clock; version 1 trials, without a worker, kept their own heartbeat.
std::string stale(const std::string& trials, const std::string& now, std::int64_t grace_ns) {
    return "COALESCE((SELECT w.last_seen FROM tarvex_workers w WHERE w.worker_id = " + trials + ".worker_id), " + trials +
           ".heartbeat) < " + now + " - " + std::to_string(grace_ns);
}

}  // namespace

std::shared_ptr<DatabaseStorage> DatabaseStorage::open(const std::string& url, double heartbeat_grace_seconds) {
    StorageOptions options;
    options.heartbeat_grace = heartbeat_grace_seconds;
    options.create = true;
    return open(url, options);
}

std::shared_ptr<DatabaseStorage> DatabaseStorage::open(const std::string& url, const StorageOptions& options) {
    if (!(options.heartbeat_grace >= detail::kMinHeartbeatGrace) || !std::isfinite(options.heartbeat_grace)) {
        throw std::invalid_argument("storage: heartbeat_grace must be a number of seconds of at least 0.5 (five "
                                    "heartbeats), got " + std::to_string(options.heartbeat_grace));
    }
    if (!(options.timeout > 0) || !std::isfinite(options.timeout)) {
        throw std::invalid_argument("storage: timeout must be a positive number of seconds, got " +
                                    std::to_string(options.timeout));
    }
    auto parsed = std::make_unique<detail::StorageUrl>(detail::parse_storage_url(url));
    auto patience = std::make_shared<detail::Patience>(std::chrono::duration<double>(options.timeout), options.interrupted);
    // Messages start with the URL as shown; what a database says after it is kept clear of passwords.
    const auto scrubbed = [&](const std::string& text) {
        const std::string& label = parsed->display;
        if (text.rfind(label, 0) == 0) return label + detail::without_secrets(text.substr(label.size()), parsed->secrets);
        return detail::without_secrets(text, parsed->secrets);
    };
    std::unique_ptr<detail::ISqlConnection> db;
    bool has_schema = false;
    try {
        db = parsed->kind == detail::StorageUrl::Kind::Sqlite
                 ? detail::connect_sqlite(parsed->path, parsed->display, {.create = options.create}, patience)
                 : detail::connect_postgres(parsed->options, parsed->display, patience);
        has_schema = detail::open_schema(*db, parsed->display, options.create);
        if (!has_schema && parsed->kind == detail::StorageUrl::Kind::Sqlite) {
            throw StorageNotFound(parsed->display + ": '" + parsed->path + "' is not a tarvex database (it has no tarvex tables)");
        }
    } catch (const StorageInterrupted&) {
        throw;
    } catch (const StorageNotFound& e) {
        throw StorageNotFound(scrubbed(e.what()));
    } catch (const std::exception& e) {
        throw std::runtime_error(scrubbed(e.what()));
    }
    return std::shared_ptr<DatabaseStorage>(
        new DatabaseStorage(std::move(db), std::move(parsed), options, std::move(patience), has_schema));
}

DatabaseStorage::DatabaseStorage(std::unique_ptr<detail::ISqlConnection> db_, std::unique_ptr<detail::StorageUrl> url_,
                                 StorageOptions options_, std::shared_ptr<detail::Patience> patience_, bool has_schema_)
    : db(std::move(db_)),
      parsed(std::move(url_)),
      options(std::move(options_)),
      patience(std::move(patience_)),
      owner(::getpid()),
      has_schema(has_schema_) {
    const bool sqlite = parsed->kind == detail::StorageUrl::Kind::Sqlite;
    heartbeat = std::make_unique<detail::Heartbeat>(
        [url = *parsed](std::shared_ptr<const detail::Patience> patient) {
            return url.kind == detail::StorageUrl::Kind::Sqlite
                       ? detail::connect_sqlite(url.path, url.display, {.for_heartbeats = true}, std::move(patient))
                       : detail::connect_postgres(url.options, url.display, std::move(patient));
        },
        std::chrono::duration<double>(options.heartbeat_grace), std::chrono::duration<double>(options.timeout),
        sqlite ? std::optional(detail::lock_file_of(parsed->path)) : std::nullopt);
}

DatabaseStorage::~DatabaseStorage() = default;

const std::string& DatabaseStorage::url() const { return parsed->display; }

void DatabaseStorage::interrupt() const noexcept { patience->interrupt(); }

std::unique_lock<std::mutex> DatabaseStorage::use() {
    // A forked child shares the parent's connection, whose protocol state two processes would
    // corrupt; and the parent's heartbeat thread does not exist in it.
    if (::getpid() != owner) {
        throw std::runtime_error(url() + ": this storage was opened in another process (before a fork); "
                                 "open the storage again in this process, from its URL");
    }
    return std::unique_lock(mutex);
}

void DatabaseStorage::require_schema() {
    if (!has_schema) has_schema = detail::open_schema(*db, url(), true);
}

StudyRecord DatabaseStorage::create_study(const std::string& name, const std::vector<StudyDirection>& directions) {
    if (directions.empty()) throw std::invalid_argument("create_study: a study needs at least one direction");
    detail::require_plain_text(name, "create_study: the study name");
    const auto lock = use();
    require_schema();
    // Of two processes creating one name at once, the second waits for the first and inserts nothing.
    std::vector<detail::SqlRows> rows;
    try {
        rows = db->transaction(Transaction::Durable, {{
            "INSERT INTO tarvex_studies (name, directions, datetime_created) VALUES ($1, $2, $3)"
            " ON CONFLICT (name) DO NOTHING RETURNING study_id", {name, directions_text(directions), now_ns()}}});
    } catch (const SqlError& e) {
        if (too_long(e)) throw std::invalid_argument(too_long_message(url(), "the study name", name));
        throw;
    }
    if (rows.at(0).empty()) throw DuplicateStudy("a study named '" + shown(name) + "' already exists in " + url());
    return StudyRecord{rows[0][0].integer(0), name, directions};
}

StudyRecord DatabaseStorage::load_study(const std::string& name) {
    const auto lock = use();
    const auto rows = has_schema ? db->query("SELECT study_id, name, directions FROM tarvex_studies WHERE name = $1", {name})
                                 : detail::SqlRows{};
    if (rows.empty()) throw std::out_of_range("no study named '" + shown(name) + "' in " + url());
    return record_of(rows.front());
}

void DatabaseStorage::delete_study(const std::string& name) {
    const auto lock = use();
    const auto rows = has_schema ? db->transaction(Transaction::Durable,
                                                   {{"DELETE FROM tarvex_studies WHERE name = $1 RETURNING study_id", {name}}})
                                 : std::vector<detail::SqlRows>{{}};
    if (rows.at(0).empty()) throw std::out_of_range("no study named '" + shown(name) + "' in " + url());
}

std::vector<StudyRecord> DatabaseStorage::studies() {
    const auto lock = use();
    std::vector<StudyRecord> out;
    if (!has_schema) return out;
    for (const SqlRow& row : db->query("SELECT study_id, name, directions FROM tarvex_studies ORDER BY study_id")) {
        out.push_back(record_of(row));
    }
    return out;
}

bool DatabaseStorage::has_study(std::int64_t study_id) {
    const auto lock = use();
    return db->query("SELECT count(*) FROM tarvex_studies WHERE study_id = $1", {study_id}).at(0).integer(0) > 0;
}

int DatabaseStorage::start_trial(std::int64_t study_id) {
    const auto lock = use();
    const std::int64_t worker = heartbeat->worker_id(*db);
    const std::string now = db->now_sql();
    // Numbers are taken with the change counter locked, so none is taken twice; the unique key
    // would refuse it anyway. The oldest enqueued parameter set goes with the new trial.
    // A worker idle for a while beats as its trial starts: the trial is never judged by an old beat.
    const bool beat = heartbeat->needs_beat();
    std::vector<SqlStatement> writes{
        detail::kNextChange,
        {"INSERT INTO tarvex_trials (study_id, number, state, datetime_start, datetime_complete, heartbeat, change, worker_id)"
         " VALUES ($1, (SELECT COALESCE(MAX(number) + 1, 0) FROM tarvex_trials WHERE study_id = $1), " + detail::kRunning +
         ", $2, 0, " + now + ", " + detail::kChange + ", $3) RETURNING number, trial_id", {study_id, now_ns(), worker}},
        {"DELETE FROM tarvex_enqueued WHERE enqueued_id = (SELECT min(enqueued_id) FROM tarvex_enqueued WHERE study_id = $1)"
         " RETURNING params", {study_id}}};
    if (beat) writes.push_back({"UPDATE tarvex_workers SET last_seen = " + now + " WHERE worker_id = $1", {worker}});
    const auto rows = db->transaction(Transaction::Fleeting, writes);
    if (beat) heartbeat->beaten();
    const SqlRow& started = rows.at(1).at(0);
    if (started.integer(0) > std::numeric_limits<int>::max()) throw std::overflow_error("trial number beyond the 32-bit range");
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

void DatabaseStorage::record_report(std::int64_t study_id, int number, std::size_t index, std::int32_t step, double value) {
    const auto lock = use();
    const auto add = [&](std::vector<SqlStatement>& writes, std::int64_t row) {
        detail::insert_reports(writes, row, {{static_cast<std::int64_t>(index), step, value}});
    };
    if (LiveTrial* trial = record_running(study_id, number, add, "the report", "")) {
        trial->n_reports = std::max(trial->n_reports, index + 1);
    }
}

void DatabaseStorage::record_user_attr(std::int64_t study_id, int number, const std::string& key, const std::string& value) {
    const auto lock = use();
    const auto add = [&](std::vector<SqlStatement>& writes, std::int64_t row) {
        detail::insert_attrs(writes, "tarvex_user_attrs", row, {{&key, &value}});
    };
    if (LiveTrial* trial = record_running(study_id, number, add, "the user attribute key", key)) {
        trial->user_attrs.insert_or_assign(key, value);
    }
}

std::map<std::string, std::string> DatabaseStorage::finish_trial(std::int64_t study_id, const Trial& trial) {
    const auto lock = use();
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
        if (rows.empty()) throw std::invalid_argument(url() + ": trial " + std::to_string(trial.trial_id) + " was never started");
        done.row = rows.front().integer(0);
    }
    const std::int64_t row = done.row;
    std::vector<SqlStatement> writes{detail::kNextChange};
    // A trial that another process declared lost while this one still ran it keeps its result;
    // the declaration is kept as a system attribute.
    std::size_t presumed_at = 0;
    if (ran_here) {
        presumed_at = writes.size();
        writes.push_back({"INSERT INTO tarvex_system_attrs (trial_id, key, value) SELECT trial_id, 'presumed_lost',"
                          " COALESCE(fail_reason, 'lost') FROM tarvex_trials WHERE trial_id = $1 AND state <> " + detail::kRunning +
                          " ON CONFLICT (trial_id, key) DO NOTHING RETURNING value", {row}});
    }
    const std::size_t updated_at = writes.size();
    writes.push_back({"UPDATE tarvex_trials SET state = $2, datetime_start = $3, datetime_complete = $4, fail_reason = $5,"
                      " change = " + detail::kChange + " WHERE trial_id = $1 RETURNING trial_id",
                      {row, static_cast<std::int64_t>(trial.state), ns_of(trial.datetime_start), ns_of(trial.datetime_complete),
                       trial.fail_reason ? SqlValue(*trial.fail_reason) : SqlValue(std::monostate{})}});
    if (!ran_here) {
        for (const char* table : {"tarvex_params", "tarvex_values", "tarvex_reports", "tarvex_user_attrs", "tarvex_system_attrs"}) {
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
        const bool same = recorded != done.params.end() && recorded->second.first == value && d && recorded->second.second == *d;
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
        reports.push_back({static_cast<std::int64_t>(i), trial.intermediate_values[i].first, trial.intermediate_values[i].second});
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
        db->transaction(Transaction::Durable, {detail::kNextChange, {
            "UPDATE tarvex_trials SET state = " + detail::kFailed + ", datetime_complete = $2, fail_reason = $3, change = " +
            detail::kChange + " WHERE trial_id = $1", {row, ns_of(trial.datetime_complete), "could not be stored: " + why}}});
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
    const auto lock = use();
    db->transaction(Transaction::Durable, {{"INSERT INTO tarvex_enqueued (study_id, params) VALUES ($1, $2)",
                                            {study_id, detail::param_map_text(params)}}});
}

std::optional<ParamMap> DatabaseStorage::take_enqueued(std::int64_t study_id, int number) {
    const auto lock = use();
    const auto it = live.find({study_id, number});
    return it == live.end() ? std::nullopt : std::exchange(it->second.enqueued, std::nullopt);
}

void DatabaseStorage::mark_lost_trials(std::int64_t study_id) {
    if (!may_mark) return;
    const std::string now = db->now_sql();
    const auto grace_ns = static_cast<std::int64_t>(options.heartbeat_grace * 1e9);
    const auto candidates = db->query("SELECT DISTINCT t.worker_id FROM tarvex_trials t WHERE t.study_id = $1 AND t.state = " +
                                      detail::kRunning + " AND " + stale("t", now, grace_ns), {study_id});
    // On SQLite a process that still holds its lock is alive, however long its heartbeat waited.
    std::string workers;
    bool legacy = false;
    for (const SqlRow& r : candidates) {
        if (r.is_null(0)) {
            legacy = true;
        } else if (parsed->kind != detail::StorageUrl::Kind::Sqlite ||
                   !detail::worker_lock_held(detail::lock_file_of(parsed->path), r.integer(0))) {
            if (!workers.empty()) workers += ',';
            workers += std::to_string(r.integer(0));
        }
    }
    if (workers.empty() && !legacy) return;
    std::string which = workers.empty() ? "" : "tarvex_trials.worker_id IN (" + workers + ")";
    if (legacy) which += std::string(which.empty() ? "" : " OR ") + "tarvex_trials.worker_id IS NULL";
    // A lost trial ends at its process's last heartbeat, measured from its start on the same clock.
    const std::string last_seen = "COALESCE((SELECT w.last_seen FROM tarvex_workers w WHERE w.worker_id = "
                                  "tarvex_trials.worker_id), tarvex_trials.heartbeat)";
    try {
        db->transaction(Transaction::Durable, {detail::kNextChange, {
            "UPDATE tarvex_trials SET state = " + detail::kFailed + ", fail_reason = 'heartbeat lost', datetime_complete = " +
            db->greatest() + "(datetime_start, datetime_start + " + last_seen + " - heartbeat), change = " + detail::kChange +
            " WHERE study_id = $1 AND state = " + detail::kRunning + " AND (" + which + ") AND " +
            stale("tarvex_trials", now, grace_ns), {study_id}}});
    } catch (const SqlError& e) {
        // Marking is left to a process that may write; this one still reads.
        if (e.kind == SqlError::Kind::ReadOnly) may_mark = false;
        if (e.kind == SqlError::Kind::Lost) throw;
    }
}

std::vector<StoredTrial> DatabaseStorage::changed_trials(std::int64_t study_id, int local_study_id, std::uint64_t& change) {
    const auto lock = use();
    if (!has_schema) return {};
    mark_lost_trials(study_id);
    const std::vector<detail::SqlRows> rows = db->transaction(
        Transaction::ReadOnly,
        {detail::trial_rows("t.study_id = $1 AND t.change > $2", {study_id, static_cast<std::int64_t>(change)})},
        [](const std::vector<detail::SqlRows>& found) { return detail::part_reads(found.at(0)); });
    std::vector<std::pair<std::int64_t, Trial>> changed = detail::trials_of(rows, 0, 1, local_study_id);
    std::sort(changed.begin(), changed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<StoredTrial> out;
    out.reserve(changed.size());
    for (auto& [c, trial] : changed) {
        out.push_back(std::make_shared<const Trial>(std::move(trial)));
        change = static_cast<std::uint64_t>(c);
    }
    return out;
}

Trial DatabaseStorage::load_trial(std::int64_t study_id, int number, int local_study_id) {
    const auto lock = use();
    if (!has_schema) throw std::out_of_range("Trial " + std::to_string(number) + " not found.");
    const std::vector<detail::SqlRows> rows = db->transaction(
        Transaction::ReadOnly,
        {detail::trial_rows("t.study_id = $1 AND t.number = $2", {study_id, static_cast<std::int64_t>(number)})},
        [](const std::vector<detail::SqlRows>& found) { return detail::part_reads(found.at(0)); });
    auto found = detail::trials_of(rows, 0, 1, local_study_id);
    if (found.empty()) throw std::out_of_range("Trial " + std::to_string(number) + " not found.");
    return std::move(found.front().second);
}

}  // namespace tarvex
