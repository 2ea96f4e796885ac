#include "tarvex/database_storage.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "distribution_text.hpp"
#include "heartbeat.hpp"
#include "schema.hpp"
#include "sql_connection.hpp"
#include "storage_text.hpp"
#include "storage_url.hpp"
#include "trial_rows.hpp"

namespace tarvex {
namespace {

using detail::now_ns;
using detail::shown;
using detail::SqlError;
using detail::SqlRow;
using detail::SqlStatement;
using detail::SqlValue;
using detail::too_long;
using detail::too_long_message;
using detail::Transaction;

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
    for (std::string d; std::getline(in, d, ',');)
        out.push_back(d == "maximize" ? StudyDirection::Maximize : StudyDirection::Minimize);
    return out;
}

// A row of kStudyColumns.
StudyRecord record_of(const SqlRow& row) {
    return {row.integer(0), row.text(1), directions_of(row.text(2)),
            row.is_null(3) ? std::vector<std::string>{} : detail::texts_from_text(row.text(3))};
}

const std::string kStudyColumns = "study_id, name, directions, objective_names";

void check_objective_names(const std::vector<std::string>& names, std::size_t n_directions) {
    if (names.empty()) return;
    if (names.size() != n_directions) {
        throw std::invalid_argument("create_study: objective_names has " + std::to_string(names.size()) +
                                    " names but the study has " + std::to_string(n_directions) +
                                    " directions; give one name per direction");
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        detail::require_plain_text(names[i], "create_study: an objective name");
        if (std::find(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i), names[i]) !=
            names.begin() + static_cast<std::ptrdiff_t>(i)) {
            throw std::invalid_argument("create_study: objective_names repeats '" + shown(names[i]) +
                                        "'; each objective needs its own name");
        }
    }
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
        throw std::invalid_argument(
            "storage: heartbeat_grace must be a number of seconds of at least 0.5 (five "
            "heartbeats), got " +
            std::to_string(options.heartbeat_grace));
    }
    if (!(options.timeout > 0) || !std::isfinite(options.timeout)) {
        throw std::invalid_argument("storage: timeout must be a positive number of seconds, got " +
                                    std::to_string(options.timeout));
    }
    if (options.read_only && options.create) {
        throw std::invalid_argument(
            "storage: create and read_only exclude each other; a read-only storage creates nothing");
    }
    auto parsed = std::make_unique<detail::StorageUrl>(detail::parse_storage_url(url));
    auto patience =
        std::make_shared<detail::Patience>(std::chrono::duration<double>(options.timeout), options.interrupted);
    // Messages start with the URL as shown; what a database says after it is kept clear of passwords.
    const auto scrubbed = [&](const std::string& text) {
        const std::string& label = parsed->display;
        if (text.rfind(label, 0) == 0)
            return label + detail::without_secrets(text.substr(label.size()), parsed->secrets);
        return detail::without_secrets(text, parsed->secrets);
    };
    std::unique_ptr<detail::ISqlConnection> db;
    bool has_schema = false;
    try {
        db = parsed->kind == detail::StorageUrl::Kind::Sqlite
                 ? detail::connect_sqlite(parsed->path, parsed->display, {.create = options.create}, patience)
                 : detail::connect_postgres(parsed->options, parsed->display, patience);
        has_schema = detail::open_schema(*db, parsed->display, options.create, !options.read_only);
        if (!has_schema && parsed->kind == detail::StorageUrl::Kind::Sqlite) {
            throw StorageNotFound(parsed->display + ": '" + parsed->path +
                                  "' is not a tarvex database (it has no tarvex tables)");
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
      has_schema(has_schema_),
      may_mark(!options.read_only) {
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
        throw std::runtime_error(url() +
                                 ": this storage was opened in another process (before a fork); "
                                 "open the storage again in this process, from its URL");
    }
    return std::unique_lock(mutex);
}

std::unique_lock<std::mutex> DatabaseStorage::use_to_write(const char* what) {
    if (options.read_only) {
        throw StorageError(url() + ": the storage was opened read-only; " + what + " would write to it");
    }
    return use();
}

void DatabaseStorage::require_schema() {
    if (!has_schema) has_schema = detail::open_schema(*db, url(), true);
}

StudyRecord DatabaseStorage::create_study(const std::string& name, const std::vector<StudyDirection>& directions) {
    return create_study(name, directions, {});
}

StudyRecord DatabaseStorage::create_study(const std::string& name, const std::vector<StudyDirection>& directions,
                                          const std::vector<std::string>& objective_names) {
    if (directions.empty()) throw std::invalid_argument("create_study: a study needs at least one direction");
    check_objective_names(objective_names, directions.size());
    detail::require_plain_text(name, "create_study: the study name");
    const auto lock = use_to_write("create_study");
    require_schema();
    // Of two processes creating one name at once, the second waits for the first and inserts nothing.
    std::vector<detail::SqlRows> rows;
    try {
        rows = db->transaction(
            Transaction::Durable,
            {{"INSERT INTO tarvex_studies (name, directions, datetime_created, objective_names)"
              " VALUES ($1, $2, $3, $4) ON CONFLICT (name) DO NOTHING RETURNING study_id",
              {name, directions_text(directions), now_ns(),
               objective_names.empty() ? SqlValue(std::monostate{}) : SqlValue(detail::texts_text(objective_names))}}});
    } catch (const SqlError& e) {
        if (too_long(e)) throw std::invalid_argument(too_long_message(url(), "the study name", name));
        throw;
    }
    if (rows.at(0).empty()) throw DuplicateStudy("a study named '" + shown(name) + "' already exists in " + url());
    return StudyRecord{rows[0][0].integer(0), name, directions, objective_names};
}

StudyRecord DatabaseStorage::load_study(const std::string& name) {
    const auto lock = use();
    const auto rows = has_schema ? db->query("SELECT " + kStudyColumns + " FROM tarvex_studies WHERE name = $1", {name})
                                 : detail::SqlRows{};
    if (rows.empty()) throw StudyNotFound("no study named '" + shown(name) + "' in " + url());
    return record_of(rows.front());
}

void DatabaseStorage::delete_study(const std::string& name) {
    const auto lock = use_to_write("delete_study");
    const auto rows = has_schema
                          ? db->transaction(Transaction::Durable,
                                            {{"DELETE FROM tarvex_studies WHERE name = $1 RETURNING study_id", {name}}})
                          : std::vector<detail::SqlRows>{{}};
    if (rows.at(0).empty()) throw StudyNotFound("no study named '" + shown(name) + "' in " + url());
}

std::vector<StudyRecord> DatabaseStorage::studies() {
    const auto lock = use();
    std::vector<StudyRecord> out;
    if (!has_schema) return out;
    for (const SqlRow& row : db->query("SELECT " + kStudyColumns + " FROM tarvex_studies ORDER BY study_id")) {
        out.push_back(record_of(row));
    }
    return out;
}

bool DatabaseStorage::has_study(std::int64_t study_id) {
    const auto lock = use();
    return db->query("SELECT count(*) FROM tarvex_studies WHERE study_id = $1", {study_id}).at(0).integer(0) > 0;
}

}  // namespace tarvex
