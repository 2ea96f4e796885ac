#include <sqlite3.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "sql_connection.hpp"
#include "tarvex/database_storage.hpp"

namespace tarvex::detail {

namespace {

using Clock = Patience::Clock;

class SqliteConnection : public ISqlConnection {
public:
    SqliteConnection(const std::string& path, std::string label, SqliteOpen how,
                     std::shared_ptr<const Patience> patience)
        : label(std::move(label)), how(how), patience(std::move(patience)) {
        if (!how.create) require_database_file(path);
        const int base = SQLITE_OPEN_NOMUTEX | (how.create ? SQLITE_OPEN_CREATE : 0);
        int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | base, nullptr);
        if (rc != SQLITE_OK && !how.create) {  // a file this process may only read is read
            sqlite3_close(db);
            db = nullptr;
            rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | base, nullptr);
        }
        if (rc == SQLITE_OK && !how.create && sqlite3_db_readonly(db, "main") == 1 && !readable()) {
            // A database in write-ahead mode on a read-only folder cannot make its shared-memory
            // file: opened as unchanging, it is read without one.
            sqlite3_close(db);
            db = nullptr;
            rc = sqlite3_open_v2(("file:" + uri_path(path) + "?immutable=1").c_str(), &db,
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
        }
        if (rc != SQLITE_OK) {
            const std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            sqlite3_close(db);
            throw SqlError(this->label + ": cannot open the database: " + why, SqlError::Kind::Lost);
        }
        sqlite3_busy_handler(db, &SqliteConnection::on_busy, this);
        if (sqlite3_db_readonly(db, "main") != 1) {
            // Write-ahead logging lets readers go on while one process writes.
            query("PRAGMA journal_mode=WAL");
            query("PRAGMA synchronous=NORMAL");
        }
        query("PRAGMA foreign_keys=ON");
    }
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;
    ~SqliteConnection() override {
        for (auto& [sql, stmt] : statements) sqlite3_finalize(stmt);
        sqlite3_close(db);
    }

    // In WAL mode with synchronous=NORMAL no commit waits for the disk, and a crash of the
    // machine, not of a process, can lose only the last commits.
    void begin(Transaction kind) override {
        require_file_in_place();
        query(kind == Transaction::ReadOnly ? "BEGIN" : "BEGIN IMMEDIATE");
    }
    std::string serial_key() const override { return "INTEGER PRIMARY KEY AUTOINCREMENT"; }
    std::string real_type() const override { return "REAL"; }
    // One host, one clock: the system clock of this machine.
    std::string now_sql() const override {
        return "CAST((julianday('now') - 2440587.5) * 86400000000.0 AS INTEGER) * 1000";
    }
    std::string greatest() const override { return "max"; }
    bool has_table(const std::string& name) override {
        return query("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = $1", {name}).at(0).integer(0) >
               0;
    }
    void lock_schema() override {}  // BEGIN IMMEDIATE already holds the write lock

private:
    struct Busy {};

    // Whether the schema can be read (a read-only connection to a WAL database may not).
    bool readable() {
        sqlite3_stmt* stmt = nullptr;
        const int rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &stmt, nullptr);
        const bool ok = rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW;
        sqlite3_finalize(stmt);
        return ok;
    }

    static std::string uri_path(const std::string& path) {
        std::string out;
        for (const unsigned char c : path) {
            if (std::isalnum(c) || std::string_view("/-_.~").find(static_cast<char>(c)) != std::string_view::npos) {
                out += static_cast<char>(c);
            } else {
                char escaped[4];
                std::snprintf(escaped, sizeof escaped, "%%%02X", c);
                out += escaped;
            }
        }
        return out;
    }

    // A file that is missing or empty is no database to read: opening it would make one.
    void require_database_file(const std::string& path) const {
        struct stat info{};
        if (::stat(path.c_str(), &info) != 0) {
            throw StorageNotFound(label + ": there is no database file '" + path + "' (creating a study creates one)");
        }
        if (S_ISREG(info.st_mode) && info.st_size == 0) {
            throw StorageNotFound(label + ": the file '" + path + "' is empty, not a tarvex database");
        }
    }

    // A database file deleted or replaced while open would take every later write with it,
    // unseen by anyone.
    void require_file_in_place() {
        int moved = 0;
        if (sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved) {
            throw SqlError(label +
                               ": the database file was deleted or replaced while in use; nothing more can be "
                               "stored in it",
                           SqlError::Kind::Lost);
        }
    }

    // Called by SQLite while another connection holds the lock it needs: waits a little and says
    // whether to try again. A heartbeat never waits; everything else waits within the storage's
    // patience. What ends the wait is thrown once SQLite has returned.
    static int on_busy(void* self, int count) {
        auto& c = *static_cast<SqliteConnection*>(self);
        if (c.how.for_heartbeats) return 0;
        if (count == 0) c.busy_since = Clock::now();
        try {
            c.patience->check(c.busy_since, c.label, "the database's lock, held by another connection");
        } catch (...) {
            c.busy_error = std::current_exception();
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(1 << std::min(count, 5), 50)));
        return 1;
    }

    sqlite3_stmt* prepared(const std::string& sql) {
        if (const auto it = statements.find(sql); it != statements.end()) return it->second;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            throw failure(sqlite3_extended_errcode(db));
        }
        return statements.emplace(sql, stmt).first->second;
    }

    SqlError failure(int rc) {
        if (busy_error) std::rethrow_exception(std::exchange(busy_error, nullptr));
        const std::string why = sqlite3_errmsg(db);
        switch (rc & 0xff) {
            case SQLITE_READONLY:
                return SqlError(label + ": the database can be read but not written here: " + why,
                                SqlError::Kind::ReadOnly);
            case SQLITE_NOTADB:
                return SqlError(label + ": the file is not a SQLite database", SqlError::Kind::Lost);
            case SQLITE_BUSY:
                return SqlError(label + ": the database is locked by another connection", SqlError::Kind::Refused,
                                "busy");
            default:
                return SqlError(label + ": " + why);
        }
    }

    std::vector<SqlRow> execute(const std::string& sql, const std::vector<SqlValue>& params) override {
        sqlite3_stmt* stmt = prepared(sql);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        for (std::size_t i = 0; i < params.size(); ++i) {
            std::string name(1, '$');
            name.append(std::to_string(i + 1));
            const int at = sqlite3_bind_parameter_index(stmt, name.c_str());
            if (at == 0) continue;  // a parameter this statement does not use
            const SqlValue& v = params[i];
            if (const auto* n = std::get_if<std::int64_t>(&v)) {
                sqlite3_bind_int64(stmt, at, *n);
            } else if (const auto* d = std::get_if<double>(&v)) {
                if (std::isnan(*d)) {
                    sqlite3_bind_null(stmt, at);
                } else {
                    sqlite3_bind_double(stmt, at, *d);
                }
            } else if (const auto* s = std::get_if<std::string>(&v)) {
                sqlite3_bind_text(stmt, at, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_null(stmt, at);
            }
        }
        std::vector<SqlRow> rows;
        for (;;) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) {
                const int code = sqlite3_extended_errcode(db);
                sqlite3_reset(stmt);
                throw failure(code);
            }
            SqlRow row;
            const int n = sqlite3_column_count(stmt);
            row.values.reserve(static_cast<std::size_t>(n));
            for (int c = 0; c < n; ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                    case SQLITE_INTEGER:
                        row.values.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(stmt, c)));
                        break;
                    case SQLITE_FLOAT:
                        row.values.emplace_back(sqlite3_column_double(stmt, c));
                        break;
                    case SQLITE_NULL:
                        row.values.emplace_back(std::monostate{});
                        break;
                    default: {
                        const auto* text = static_cast<const char*>(sqlite3_column_blob(stmt, c));
                        row.values.emplace_back(
                            std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))));
                    }
                }
            }
            rows.push_back(std::move(row));
        }
        sqlite3_reset(stmt);
        return rows;
    }

    sqlite3* db = nullptr;
    const std::string label;
    const SqliteOpen how;
    const std::shared_ptr<const Patience> patience;
    Clock::time_point busy_since;
    std::exception_ptr busy_error;  // why a wait for the lock ended, thrown once SQLite returns
    std::unordered_map<std::string, sqlite3_stmt*> statements;  // prepared once, by their text
};

}  // namespace

std::unique_ptr<ISqlConnection> connect_sqlite(const std::string& path, const std::string& label, SqliteOpen how,
                                               std::shared_ptr<const Patience> patience) {
    return std::make_unique<SqliteConnection>(path, label, how, std::move(patience));
}

}  // namespace tarvex::detail
