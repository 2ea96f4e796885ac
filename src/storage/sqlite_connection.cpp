#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <unordered_map>

#include "sql_connection.hpp"

namespace tarvex::detail {

namespace {

constexpr int kBusyTimeoutMs = 60000;  // how long a writer waits for another process's transaction
constexpr int kBusyRetries = 5;        // then tries again, this many times, before giving up

class SqliteConnection : public ISqlConnection {
public:
    SqliteConnection(const std::string& path, std::string label) : label(std::move(label)) {
        const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                       nullptr);
        if (rc != SQLITE_OK) {
            const std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            sqlite3_close(db);
            throw SqlError(this->label + ": cannot open the database: " + why);
        }
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        // Write-ahead logging lets readers go on while one process writes.
        query("PRAGMA journal_mode=WAL");
        query("PRAGMA synchronous=NORMAL");
        query("PRAGMA foreign_keys=ON");
    }
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;
    ~SqliteConnection() override {
        for (auto& [sql, stmt] : statements) sqlite3_finalize(stmt);
        sqlite3_close(db);
    }

    std::vector<SqlRow> execute(const std::string& sql, const std::vector<SqlValue>& params) override {
        for (int attempt = 0;; ++attempt) {
            try {
                return run(sql, params);
            } catch (const Busy&) {
                if (attempt == kBusyRetries) throw SqlError(label + ": the database stayed locked by another process");
                std::this_thread::sleep_for(std::chrono::milliseconds(50 << attempt));
            }
        }
    }

    // In WAL mode with synchronous=NORMAL no commit waits for the disk, and a crash of the
    // machine, not of a process, can lose only the last commits.
    void begin(Transaction kind) override { query(kind == Transaction::ReadOnly ? "BEGIN" : "BEGIN IMMEDIATE"); }
    std::string serial_key() const override { return "INTEGER PRIMARY KEY AUTOINCREMENT"; }
    std::string real_type() const override { return "REAL"; }
    bool has_table(const std::string& name) override {
        return query("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = $1", {name}).at(0).integer(0) > 0;
    }
    void lock_schema() override {}  // BEGIN IMMEDIATE already holds the write lock

private:
    struct Busy {};

    sqlite3_stmt* prepared(const std::string& sql) {
        if (const auto it = statements.find(sql); it != statements.end()) return it->second;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            if (sqlite3_errcode(db) == SQLITE_BUSY) throw Busy{};
            throw SqlError(label + ": " + sqlite3_errmsg(db));
        }
        return statements.emplace(sql, stmt).first->second;
    }

    std::vector<SqlRow> run(const std::string& sql, const std::vector<SqlValue>& params) {
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
            if (rc == SQLITE_BUSY) {
                sqlite3_reset(stmt);
                throw Busy{};
            }
            if (rc != SQLITE_ROW) {
                const std::string why = sqlite3_errmsg(db);
                sqlite3_reset(stmt);
                throw SqlError(label + ": " + why);
            }
            SqlRow row;
            const int n = sqlite3_column_count(stmt);
            row.values.reserve(static_cast<std::size_t>(n));
            for (int c = 0; c < n; ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                    case SQLITE_INTEGER: row.values.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(stmt, c))); break;
                    case SQLITE_FLOAT: row.values.emplace_back(sqlite3_column_double(stmt, c)); break;
                    case SQLITE_NULL: row.values.emplace_back(std::monostate{}); break;
                    default: {
                        const auto* text = static_cast<const char*>(sqlite3_column_blob(stmt, c));
                        row.values.emplace_back(std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))));
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
    std::unordered_map<std::string, sqlite3_stmt*> statements;  // prepared once, by their text
};

}  // namespace

std::unique_ptr<ISqlConnection> connect_sqlite(const std::string& path, const std::string& label) {
    return std::make_unique<SqliteConnection>(path, label);
}

}  // namespace tarvex::detail
