#include "tarvex/database_storage.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

#include "distribution_text.hpp"
#include "sql_connection.hpp"
#include "storage_url.hpp"

namespace tarvex {
namespace {

using detail::SqlRow;
using detail::SqlValue;
using Clock = std::chrono::system_clock;

std::int64_t now_ns() { return Clock::now().time_since_epoch().count(); }
std::int64_t ns_of(TimePoint t) { return t.time_since_epoch().count(); }
TimePoint time_of(std::int64_t ns) { return TimePoint(Clock::duration(ns)); }

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

int number_of(std::int64_t n) {
    if (n > std::numeric_limits<int>::max()) throw std::overflow_error("trial number beyond the 32-bit range");
    return static_cast<int>(n);
}

using detail::SqlStatement;

// Insert statements for rows of a table, appended to out: one per 64 rows, so that a trial's
// many reports make few statements. Statements come in a few fixed sizes, which keeps the number
// of distinct (prepared) ones small.
template <class Row>
void insert_rows(std::vector<SqlStatement>& out, const std::string& table, const std::string& columns, int width,
                 const std::vector<Row>& rows, void (*bind)(const Row&, std::vector<SqlValue>&), const char* on_conflict = "") {
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

struct ParamRow {
    std::int64_t trial;
    const std::string* name;
    const ParamValue* value;
    const Distribution* dist;
};

void bind_param(const ParamRow& p, std::vector<SqlValue>& out) {
    out.emplace_back(p.trial);
    out.emplace_back(*p.name);
    out.emplace_back(static_cast<std::int64_t>(p.value->index()));
    if (const auto* d = std::get_if<double>(p.value)) {
        out.emplace_back(*d);
        out.emplace_back(std::monostate{});
    } else if (const auto* i = std::get_if<int>(p.value)) {
        out.emplace_back(static_cast<double>(*i));
        out.emplace_back(std::monostate{});
    } else {
        out.emplace_back(std::monostate{});
        out.emplace_back(std::get<std::string>(*p.value));
    }
    out.emplace_back(p.dist ? SqlValue(detail::distribution_text(*p.dist)) : SqlValue(std::monostate{}));
}

struct NumberRow {
    std::int64_t trial;
    std::int64_t idx;
    std::int64_t step;
    double value;
};

void bind_value(const NumberRow& r, std::vector<SqlValue>& out) {
    out.insert(out.end(), {r.trial, r.idx, r.value});
}

void bind_report(const NumberRow& r, std::vector<SqlValue>& out) {
    out.insert(out.end(), {r.trial, r.idx, r.step, r.value});
}

struct AttrRow {
    std::int64_t trial;
    const std::string* key;
    const std::string* value;
};

void bind_attr(const AttrRow& r, std::vector<SqlValue>& out) { out.insert(out.end(), {r.trial, *r.key, *r.value}); }

ParamValue param_of(const SqlRow& row, std::size_t kind_at) {
    switch (row.integer(kind_at)) {
        case 0: return row.real(kind_at + 1);
        case 1: return static_cast<int>(row.integer(kind_at + 1));
        default: return row.text(kind_at + 2);
    }
}

// Every write transaction that changes a trial starts by moving the change counter on and marks
// the trial with its new value. Writers do so in commit order (the counter's row stays locked
// until they commit), so a reader that has seen change c has seen every change up to c.
const SqlStatement kNextChange{"UPDATE tarvex_meta SET number = number + 1 WHERE name = 'change'", {}};
const std::string kChange = "(SELECT number FROM tarvex_meta WHERE name = 'change')";

// Creates the tables on first use, then checks their version. An existing schema is only read:
// DDL would take table locks that deadlock with other processes' writes.
void open_schema(detail::ISqlConnection& db, const std::string& url) {
    if (!db.has_table("tarvex_meta")) {
        const std::string real = db.real_type(), serial = db.serial_key();
        const std::string trial_ref = "trial_id BIGINT NOT NULL REFERENCES tarvex_trials(trial_id) ON DELETE CASCADE";
        detail::in_transaction(db, [&] {
            db.lock_schema();
            if (db.has_table("tarvex_meta")) return;  // another process was first
            for (const std::string& sql : {
                     "CREATE TABLE tarvex_studies (study_id " + serial +
                         ", name TEXT NOT NULL UNIQUE, directions TEXT NOT NULL, datetime_created BIGINT NOT NULL)",
                     // trial_id keys the rows of a trial; number is the identifier a Study sees, 0, 1, 2, ...
                     // within each study.
                     "CREATE TABLE tarvex_trials (trial_id " + serial +
                         ", study_id BIGINT NOT NULL REFERENCES tarvex_studies(study_id) ON DELETE CASCADE,"
                         " number INTEGER NOT NULL, state INTEGER NOT NULL, datetime_start BIGINT NOT NULL, datetime_complete BIGINT NOT NULL,"
                         " heartbeat BIGINT NOT NULL, fail_reason TEXT, change BIGINT NOT NULL, UNIQUE (study_id, number))",
                     std::string("CREATE INDEX tarvex_trials_by_change ON tarvex_trials (study_id, change)"),
                     std::string("CREATE INDEX tarvex_trials_by_state ON tarvex_trials (study_id, state)"),
                     "CREATE TABLE tarvex_params (" + trial_ref + ", name TEXT NOT NULL, kind INTEGER NOT NULL,"
                         " number " + real + ", text TEXT, distribution TEXT, PRIMARY KEY (trial_id, name))",
                     "CREATE TABLE tarvex_values (" + trial_ref + ", idx INTEGER NOT NULL, value " + real +
                         ", PRIMARY KEY (trial_id, idx))",
                     "CREATE TABLE tarvex_reports (" + trial_ref + ", idx INTEGER NOT NULL, step INTEGER NOT NULL,"
                         " value " + real + ", PRIMARY KEY (trial_id, idx))",
                     "CREATE TABLE tarvex_user_attrs (" + trial_ref +
                         ", key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (trial_id, key))",
                     // Last: its presence says the rest is there.
                     std::string("CREATE TABLE tarvex_meta (name TEXT PRIMARY KEY, number BIGINT NOT NULL)"),
                     "INSERT INTO tarvex_meta (name, number) VALUES ('schema_version', " +
                         std::to_string(DatabaseStorage::kSchemaVersion) + "), ('change', 0)"}) {
                db.query(sql);
            }
        });
    }
    const auto rows = db.query("SELECT number FROM tarvex_meta WHERE name = 'schema_version'");
    const std::int64_t version = rows.empty() ? 0 : rows.front().integer(0);
    if (version != DatabaseStorage::kSchemaVersion) {
        throw std::runtime_error(url + ": the database has schema version " + std::to_string(version) +
                                 "; this tarvex reads version " + std::to_string(DatabaseStorage::kSchemaVersion));
    }
}

// Trials are read in two steps of one transaction: the trials matching a condition, then their
// rows in the other tables by key. Reading those by key rather than through a join keeps every
// read an index lookup, whatever plan the database would choose for a join.
SqlStatement trial_rows(const std::string& where, std::vector<SqlValue> params) {
    return {"SELECT t.trial_id, t.state, t.datetime_start, t.datetime_complete, t.fail_reason, t.change, t.number"
            " FROM tarvex_trials t WHERE " + where, std::move(params)};
}

// The tables read by key, with their columns after the key, in the order trials_of reads them.
constexpr const char* kChildReads[][2] = {
    {"tarvex_params", "name, kind, number, text, distribution"},
    {"tarvex_values", "value"},
    {"tarvex_reports", "step, value"},
    {"tarvex_user_attrs", "key, value"},
};

// The second step: for each table, statements of 256, 64, 16, 4 and 1 keys.
std::vector<SqlStatement> child_reads(const detail::SqlRows& trials) {
    std::vector<SqlStatement> out;
    for (const auto& [table, columns] : kChildReads) {
        std::size_t done = 0;
        for (const std::size_t batch : {256, 64, 16, 4, 1}) {
            while (trials.size() - done >= batch) {
                std::string sql = std::string("SELECT trial_id, ") + columns + " FROM " + table + " WHERE trial_id IN (";
                std::vector<SqlValue> keys;
                for (std::size_t k = 0; k < batch; ++k) {
                    sql += (k ? ",$" : "$") + std::to_string(k + 1);
                    keys.emplace_back(trials[done + k].integer(0));
                }
                sql += ") ORDER BY trial_id";
                if (table != std::string("tarvex_params") && table != std::string("tarvex_user_attrs")) sql += ", idx";
                out.push_back({std::move(sql), std::move(keys)});
                done += batch;
            }
        }
    }
    return out;
}

// The trials of a two-step read whose first step's rows are rows[trials_at], each with its change number.
std::vector<std::pair<std::int64_t, Trial>> trials_of(const std::vector<detail::SqlRows>& rows, std::size_t trials_at,
                                                       std::size_t children_at, int local_study_id) {
    std::map<std::int64_t, std::pair<std::int64_t, Trial>> trials;  // row key -> (change, trial)
    for (const SqlRow& r : rows.at(trials_at)) {
        Trial t(number_of(r.integer(6)), local_study_id);
        t.state = static_cast<TrialState>(r.integer(1));
        t.datetime_start = time_of(r.integer(2));
        t.datetime_complete = time_of(r.integer(3));
        if (!r.is_null(4)) t.fail_reason = r.text(4);
        trials.emplace(r.integer(0), std::pair(r.integer(5), std::move(t)));
    }
    // The statements of each table come in the order child_reads made them: as many per table.
    const std::size_t per_table = (rows.size() - children_at) / std::size(kChildReads);
    const auto trial = [&](const SqlRow& r) -> Trial& { return trials.at(r.integer(0)).second; };
    for (std::size_t table = 0; table < std::size(kChildReads); ++table) {
        for (std::size_t k = 0; k < per_table; ++k) {
            for (const SqlRow& r : rows[children_at + table * per_table + k]) {
                Trial& t = trial(r);
                switch (table) {
                    case 0:
                        t.params.insert_or_assign(r.text(1), param_of(r, 2));
                        if (!r.is_null(5)) t.distributions.insert_or_assign(r.text(1), detail::distribution_from_text(r.text(5)));
                        break;
                    case 1: t.values.push_back(r.real(1)); break;
                    case 2: t.intermediate_values.emplace_back(static_cast<std::int32_t>(r.integer(1)), r.real(2)); break;
                    default: t.user_attrs.insert_or_assign(r.text(1), r.text(2));
                }
            }
        }
    }
    std::vector<std::pair<std::int64_t, Trial>> out;
    out.reserve(trials.size());
    for (auto& [key, entry] : trials) out.push_back(std::move(entry));
    return out;
}

}  // namespace

// The IStorage of one stored study, as a Study sees it: trials carry the Study's own
// (process-local) identifier, and reads keep what they fetched.
class DatabaseStudyStorage : public IStorage {
public:
    DatabaseStudyStorage(std::shared_ptr<DatabaseStorage> db, StudyRecord study) : db(std::move(db)), study(std::move(study)) {}

    int create_trial(int study_id) override {
        seen(study_id);
        return db->start_trial(study.id);
    }
    void update_trial(const Trial& trial) override { db->finish_trial(study.id, trial); }
    Trial get_trial(int trial_id) const override { return db->load_trial(study.id, trial_id, local_study_id.load()); }
    std::vector<Trial> get_all_trials(int study_id) const override {
        const std::scoped_lock lock(mutex);
        refresh(study_id);
        std::vector<Trial> out;
        out.reserve(cache.size());
        for (const auto& [id, trial] : cache) out.push_back(*trial);
        return out;
    }
    int n_trials(int study_id) const override {
        const std::scoped_lock lock(mutex);
        refresh(study_id);
        return static_cast<int>(cache.size());
    }
    void record_param(int trial_id, const std::string& name, const Distribution& dist, const ParamValue& value) override {
        db->record_param(study.id, trial_id, name, dist, value);
    }
    std::vector<StoredTrial> trials_since(int study_id, std::uint64_t& cursor) const override {
        seen(study_id);
        return db->changed_trials(study.id, study_id, cursor);
    }

private:
    void refresh(int study_id) const {  // with mutex held
        seen(study_id);
        for (StoredTrial& t : db->changed_trials(study.id, study_id, cursor)) cache.insert_or_assign(t->trial_id, std::move(t));
    }
    // Trials read back carry the identifier of the Study working on this storage, which this
    // storage learns from the Study's calls.
    void seen(int study_id) const { local_study_id.store(study_id); }

    const std::shared_ptr<DatabaseStorage> db;
    const StudyRecord study;
    mutable std::atomic<int> local_study_id{0};
    mutable std::mutex mutex;
    mutable std::uint64_t cursor = 0;                // guarded by mutex
    mutable std::map<int, StoredTrial> cache;        // guarded by mutex; ascending ids
};

std::shared_ptr<DatabaseStorage> DatabaseStorage::open(const std::string& url, double heartbeat_grace_seconds) {
    if (!(heartbeat_grace_seconds > 0) || !std::isfinite(heartbeat_grace_seconds)) {
        throw std::invalid_argument("storage: heartbeat_grace must be a positive number of seconds");
    }
    const detail::StorageUrl parsed = detail::parse_storage_url(url);
    std::unique_ptr<detail::ISqlConnection> db;
    try {
        db = parsed.kind == detail::StorageUrl::Kind::Sqlite ? detail::connect_sqlite(parsed.target, parsed.display)
                                                              : detail::connect_postgres(parsed.target, parsed.display);
        open_schema(*db, parsed.display);
    } catch (const std::exception& e) {
        throw std::runtime_error(detail::without_secret(e.what(), parsed.secret));
    }
    return std::shared_ptr<DatabaseStorage>(new DatabaseStorage(std::move(db), parsed.display, heartbeat_grace_seconds));
}

DatabaseStorage::DatabaseStorage(std::unique_ptr<detail::ISqlConnection> db, std::string display_url, double grace_seconds)
    : db(std::move(db)), display_url(std::move(display_url)), grace(grace_seconds), owner(::getpid()) {
    // A beat every quarter of the grace period keeps running trials well inside it.
    const auto interval = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::clamp(grace / 4, std::chrono::duration<double>(0.05), std::chrono::duration<double>(10)));
    heartbeats = std::jthread([this, interval](std::stop_token stop) {
        std::unique_lock lock(mutex);
        for (;;) {
            beat_wait.wait_for(lock, stop, interval, [] { return false; });
            if (stop.stop_requested()) return;
            if (live.empty()) continue;
            try {
                const std::int64_t now = now_ns();
                std::vector<SqlStatement> beats;
                for (const auto& [trial, row] : live) {
                    beats.push_back({"UPDATE tarvex_trials SET heartbeat = $1 WHERE trial_id = $2 AND state = 0", {now, row}});
                }
                this->db->transaction(detail::Transaction::Fleeting, beats);
            } catch (const std::exception&) {
                // A database that cannot be reached fails the run's own next write, with its reason.
            }
        }
    });
}

DatabaseStorage::~DatabaseStorage() = default;

std::unique_lock<std::mutex> DatabaseStorage::use() {
    // A forked child shares the parent's connection, whose protocol state two processes would
    // corrupt; and the parent's heartbeat thread does not exist in it.
    if (::getpid() != owner) {
        throw std::runtime_error(display_url + ": this storage was opened in another process (before a fork); "
                                 "open the storage again in this process, from its URL");
    }
    return std::unique_lock(mutex);
}

StudyRecord DatabaseStorage::create_study(const std::string& name, const std::vector<StudyDirection>& directions) {
    if (directions.empty()) throw std::invalid_argument("create_study: a study needs at least one direction");
    const auto lock = use();
    // Of two processes creating one name at once, the second waits for the first and inserts nothing.
    const auto rows = db->transaction(detail::Transaction::Durable, {{
        "INSERT INTO tarvex_studies (name, directions, datetime_created) VALUES ($1, $2, $3)"
        " ON CONFLICT (name) DO NOTHING RETURNING study_id", {name, directions_text(directions), now_ns()}}});
    if (rows.at(0).empty()) throw std::invalid_argument("a study named '" + name + "' already exists in " + display_url);
    return StudyRecord{rows[0][0].integer(0), name, directions};
}

StudyRecord DatabaseStorage::load_study(const std::string& name) {
    const auto lock = use();
    const auto rows = db->query("SELECT study_id, name, directions FROM tarvex_studies WHERE name = $1", {name});
    if (rows.empty()) throw std::out_of_range("no study named '" + name + "' in " + display_url);
    return record_of(rows.front());
}

void DatabaseStorage::delete_study(const std::string& name) {
    const auto lock = use();
    const auto rows = db->transaction(detail::Transaction::Durable,
                                      {{"DELETE FROM tarvex_studies WHERE name = $1 RETURNING study_id", {name}}});
    if (rows.at(0).empty()) throw std::out_of_range("no study named '" + name + "' in " + display_url);
}

std::vector<StudyRecord> DatabaseStorage::studies() {
    const auto lock = use();
    std::vector<StudyRecord> out;
    for (const SqlRow& row : db->query("SELECT study_id, name, directions FROM tarvex_studies ORDER BY study_id")) {
        out.push_back(record_of(row));
    }
    return out;
}

std::shared_ptr<IStorage> DatabaseStorage::study_storage(const StudyRecord& study) {
    return std::make_shared<DatabaseStudyStorage>(shared_from_this(), study);
}

int DatabaseStorage::start_trial(std::int64_t study_id) {
    const auto lock = use();
    const std::int64_t now = now_ns();
    // Numbers are taken with the change counter locked, so none is taken twice; the unique key
    // would refuse it anyway.
    const auto rows = db->transaction(detail::Transaction::Fleeting, {kNextChange, {
        "INSERT INTO tarvex_trials (study_id, number, state, datetime_start, datetime_complete, heartbeat, change)"
        " VALUES ($1, (SELECT COALESCE(MAX(number) + 1, 0) FROM tarvex_trials WHERE study_id = $1), 0, $2, 0, $2, " +
        kChange + ") RETURNING number, trial_id", {study_id, now}}});
    const int number = number_of(rows.at(1).at(0).integer(0));
    live.emplace(std::pair(study_id, number), rows[1][0].integer(1));
    return number;
}

std::int64_t DatabaseStorage::row_of(std::int64_t study_id, int number) {
    if (const auto it = live.find({study_id, number}); it != live.end()) return it->second;
    const auto rows = db->query("SELECT trial_id FROM tarvex_trials WHERE study_id = $1 AND number = $2",
                                {study_id, static_cast<std::int64_t>(number)});
    if (rows.empty()) throw std::invalid_argument(display_url + ": trial " + std::to_string(number) + " was never started");
    return rows.front().integer(0);
}

void DatabaseStorage::record_param(std::int64_t study_id, int number, const std::string& name, const Distribution& dist,
                                   const ParamValue& value) {
    const auto lock = use();
    const std::int64_t row = row_of(study_id, number);
    std::vector<SqlValue> params;
    bind_param({row, &name, &value, &dist}, params);
    db->transaction(detail::Transaction::Fleeting, {
        kNextChange,
        {"INSERT INTO tarvex_params (trial_id, name, kind, number, text, distribution) VALUES ($1, $2, $3, $4, $5, $6)"
         " ON CONFLICT (trial_id, name) DO UPDATE SET kind = $3, number = $4, text = $5, distribution = $6", std::move(params)},
        {"UPDATE tarvex_trials SET change = " + kChange + " WHERE trial_id = $1", {row}}});
}

void DatabaseStorage::finish_trial(std::int64_t study_id, const Trial& trial) {
    const auto lock = use();
    const std::int64_t id = row_of(study_id, trial.trial_id);
    std::vector<ParamRow> params;
    for (const auto& [name, value] : trial.params) {
        const auto dist = trial.distributions.find(name);
        params.push_back({id, &name, &value, dist == trial.distributions.end() ? nullptr : &dist->second});
    }
    std::vector<NumberRow> values, reports;
    for (std::size_t i = 0; i < trial.values.size(); ++i) values.push_back({id, static_cast<std::int64_t>(i), 0, trial.values[i]});
    for (std::size_t i = 0; i < trial.intermediate_values.size(); ++i) {
        const auto& [step, value] = trial.intermediate_values[i];
        reports.push_back({id, static_cast<std::int64_t>(i), step, value});
    }
    std::vector<AttrRow> attrs;
    for (const auto& [key, value] : trial.user_attrs) attrs.push_back({id, &key, &value});

    // Whether or not it is stored, this process is done with the trial: one it could not store
    // stops beating and is declared lost after the grace period. A trial that ran here has
    // nothing stored yet but its parameters, which are written over.
    const bool ran_here = live.erase({study_id, trial.trial_id}) > 0;
    std::vector<SqlStatement> writes{
        kNextChange,
        {"UPDATE tarvex_trials SET state = $2, datetime_start = $3, datetime_complete = $4, fail_reason = $5,"
         " change = " + kChange + " WHERE trial_id = $1",
         {id, static_cast<std::int64_t>(trial.state), ns_of(trial.datetime_start), ns_of(trial.datetime_complete),
          trial.fail_reason ? SqlValue(*trial.fail_reason) : SqlValue(std::monostate{})}}};
    for (const char* table : {"tarvex_params", "tarvex_values", "tarvex_reports", "tarvex_user_attrs"}) {
        if (!ran_here) writes.push_back({std::string("DELETE FROM ") + table + " WHERE trial_id = $1", {id}});
    }
    insert_rows(writes, "tarvex_params", "trial_id, name, kind, number, text, distribution", 6, params, &bind_param,
                " ON CONFLICT (trial_id, name) DO UPDATE SET kind = excluded.kind, number = excluded.number,"
                " text = excluded.text, distribution = excluded.distribution");
    insert_rows(writes, "tarvex_values", "trial_id, idx, value", 3, values, &bind_value);
    insert_rows(writes, "tarvex_reports", "trial_id, idx, step, value", 4, reports, &bind_report);
    insert_rows(writes, "tarvex_user_attrs", "trial_id, key, value", 3, attrs, &bind_attr);
    db->transaction(detail::Transaction::Durable, writes);
}

std::vector<StoredTrial> DatabaseStorage::changed_trials(std::int64_t study_id, int local_study_id, std::uint64_t& change) {
    const auto lock = use();
    const std::int64_t lost_before = now_ns() - std::chrono::duration_cast<std::chrono::nanoseconds>(grace).count();
    const std::vector<SqlStatement> reads{
        {"SELECT count(*) FROM tarvex_trials WHERE study_id = $1 AND state = 0 AND heartbeat < $2", {study_id, lost_before}},
        trial_rows("t.study_id = $1 AND t.change > $2", {study_id, static_cast<std::int64_t>(change)})};
    const auto children = [](const std::vector<detail::SqlRows>& rows) { return child_reads(rows.at(1)); };
    std::vector<detail::SqlRows> rows = db->transaction(detail::Transaction::ReadOnly, reads, children);
    if (rows.at(0).at(0).integer(0) > 0) {
        // Trials whose process stopped beating: failed, by whichever process sees them first.
        db->transaction(detail::Transaction::Durable, {kNextChange, {
            "UPDATE tarvex_trials SET state = 3, fail_reason = 'heartbeat lost', datetime_complete = $3, change = " +
            kChange + " WHERE study_id = $1 AND state = 0 AND heartbeat < $2", {study_id, lost_before, now_ns()}}});
        rows = db->transaction(detail::Transaction::ReadOnly, reads, children);
    }
    std::vector<std::pair<std::int64_t, Trial>> changed = trials_of(rows, 1, 2, local_study_id);
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
    const std::vector<detail::SqlRows> rows = db->transaction(
        detail::Transaction::ReadOnly, {trial_rows("t.study_id = $1 AND t.number = $2", {study_id, static_cast<std::int64_t>(number)})},
        [](const std::vector<detail::SqlRows>& found) { return child_reads(found.at(0)); });
    auto found = trials_of(rows, 0, 1, local_study_id);
    if (found.empty()) throw std::out_of_range("Trial " + std::to_string(number) + " not found.");
    return std::move(found.front().second);
}

}  // namespace tarvex
