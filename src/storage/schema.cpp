#include "schema.hpp"

#include <stdexcept>
#include <vector>

namespace tarvex::detail {
namespace {

std::int64_t version_of(ISqlConnection& db) {
    const auto rows = db.query("SELECT number FROM tarvex_meta WHERE name = 'schema_version'");
    return rows.empty() ? 0 : rows.front().integer(0);
}

// The tables added by version 2, with the column additions to version 1's tables.
std::vector<std::string> version_2_tables(ISqlConnection& db) {
    const std::string serial = db.serial_key();
    const std::string trial_ref = "trial_id BIGINT NOT NULL REFERENCES tarvex_trials(trial_id) ON DELETE CASCADE";
    return {
        // A process that runs trials: its heartbeat, on the database's clock, keeps them alive.
        "CREATE TABLE tarvex_workers (worker_id " + serial + ", last_seen BIGINT NOT NULL, started BIGINT NOT NULL)",
        "CREATE TABLE tarvex_system_attrs (" + trial_ref +
            ", key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (trial_id, key))",
        "CREATE TABLE tarvex_enqueued (enqueued_id " + serial +
            ", study_id BIGINT NOT NULL REFERENCES tarvex_studies(study_id) ON DELETE CASCADE, params TEXT NOT NULL)",
        "CREATE INDEX tarvex_enqueued_by_study ON tarvex_enqueued (study_id, enqueued_id)",
    };
}

// The table added by version 4: a study's own user attributes.
std::string version_4_table() {
    return "CREATE TABLE tarvex_study_attrs (study_id BIGINT NOT NULL REFERENCES tarvex_studies(study_id) ON DELETE "
           "CASCADE, key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (study_id, key))";
}

void create_tables(ISqlConnection& db) {
    const std::string real = db.real_type(), serial = db.serial_key();
    const std::string trial_ref = "trial_id BIGINT NOT NULL REFERENCES tarvex_trials(trial_id) ON DELETE CASCADE";
    std::vector<std::string> statements{
        "CREATE TABLE tarvex_studies (study_id " + serial +
            ", name TEXT NOT NULL UNIQUE, directions TEXT NOT NULL, datetime_created BIGINT NOT NULL,"
            " objective_names TEXT)",
        // trial_id keys the rows of a trial; number is the identifier a Study sees, 0, 1, 2, ...
        // within each study. heartbeat is the database's time when the trial started (version 1:
        // its last beat); worker_id the process that runs it; constraints the trial's constraint
        // values (null: none).
        "CREATE TABLE tarvex_trials (trial_id " + serial +
            ", study_id BIGINT NOT NULL REFERENCES tarvex_studies(study_id) ON DELETE CASCADE,"
            " number INTEGER NOT NULL, state INTEGER NOT NULL, datetime_start BIGINT NOT NULL, datetime_complete "
            "BIGINT NOT NULL,"
            " heartbeat BIGINT NOT NULL, fail_reason TEXT, change BIGINT NOT NULL, worker_id BIGINT, constraints TEXT,"
            " UNIQUE (study_id, number))",
        "CREATE INDEX tarvex_trials_by_change ON tarvex_trials (study_id, change)",
        "CREATE INDEX tarvex_trials_by_state ON tarvex_trials (study_id, state)",
        "CREATE TABLE tarvex_params (" + trial_ref + ", name TEXT NOT NULL, kind INTEGER NOT NULL, number " + real +
            ", text TEXT, distribution TEXT, position INTEGER, PRIMARY KEY (trial_id, name))",
        "CREATE TABLE tarvex_values (" + trial_ref + ", idx INTEGER NOT NULL, value " + real +
            ", PRIMARY KEY (trial_id, idx))",
        "CREATE TABLE tarvex_reports (" + trial_ref + ", idx INTEGER NOT NULL, step INTEGER NOT NULL, value " + real +
            ", PRIMARY KEY (trial_id, idx))",
        "CREATE TABLE tarvex_user_attrs (" + trial_ref +
            ", key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (trial_id, key))",
    };
    for (std::string& table : version_2_tables(db)) statements.push_back(std::move(table));
    statements.push_back(version_4_table());
    // Last: its presence says the rest is there.
    statements.push_back("CREATE TABLE tarvex_meta (name TEXT PRIMARY KEY, number BIGINT NOT NULL)");
    statements.push_back("INSERT INTO tarvex_meta (name, number) VALUES ('schema_version', " +
                         std::to_string(kSchemaVersion) + "), ('change', 0)");
    for (const std::string& sql : statements) db.query(sql);
}

// Each upgrade takes a schema from its version to the next.
void upgrade_from_1(ISqlConnection& db) {
    db.query("ALTER TABLE tarvex_trials ADD COLUMN worker_id BIGINT");
    db.query("ALTER TABLE tarvex_params ADD COLUMN position INTEGER");
    for (const std::string& sql : version_2_tables(db)) db.query(sql);
}

void upgrade_from_2(ISqlConnection& db) {
    db.query("ALTER TABLE tarvex_trials ADD COLUMN constraints TEXT");
    db.query("ALTER TABLE tarvex_studies ADD COLUMN objective_names TEXT");
}

void upgrade(ISqlConnection& db) {
    std::int64_t version = version_of(db);
    if (version == 1) {
        upgrade_from_1(db);
        version = 2;
    }
    if (version == 2) {
        upgrade_from_2(db);
        version = 3;
    }
    if (version == 3) {
        db.query(version_4_table());
        version = 4;
    }
    db.query("UPDATE tarvex_meta SET number = " + std::to_string(version) + " WHERE name = 'schema_version'");
}

}  // namespace

bool open_schema(ISqlConnection& db, const std::string& label, bool create, bool may_write) {
    // An existing schema is only read unless it is old: DDL takes table locks that would wait
    // behind other processes' writes.
    if (!db.has_table("tarvex_meta")) {
        if (!create) return false;
        in_transaction(db, [&] {
            db.lock_schema();
            if (!db.has_table("tarvex_meta")) create_tables(db);  // else another process was first
        });
    }
    std::int64_t version = version_of(db);
    if (version >= 1 && version < kSchemaVersion) {
        const auto refused = [&] {
            return std::runtime_error(label + ": the database has schema version " + std::to_string(version) +
                                      ", which this tarvex upgrades to " + std::to_string(kSchemaVersion) +
                                      " when it may write to it; it may not here");
        };
        if (!may_write) throw refused();
        try {
            in_transaction(db, [&] {
                db.lock_schema();
                if (version_of(db) < kSchemaVersion) upgrade(db);  // else another process was first
            });
        } catch (const SqlError& e) {
            if (e.kind != SqlError::Kind::ReadOnly) throw;
            throw refused();
        }
        version = version_of(db);
    }
    if (version != kSchemaVersion) {
        throw std::runtime_error(label + ": the database has schema version " + std::to_string(version) +
                                 "; this tarvex reads version " + std::to_string(kSchemaVersion));
    }
    return true;
}

}  // namespace tarvex::detail
