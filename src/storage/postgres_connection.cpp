#include <libpq-fe.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <unordered_map>

#include "sql_connection.hpp"

namespace tarvex::detail {
namespace {

// Column types the schema uses (pg_type oids).
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701;
// Any constant: the advisory lock that serialises schema creation.
constexpr long long kSchemaLock = 7256348;

std::string text_of(double v) {
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

double double_of(const char* text) {
    if (text[0] == 'N') return std::numeric_limits<double>::quiet_NaN();
    if (text[0] == 'I') return std::numeric_limits<double>::infinity();
    if (text[0] == '-' && text[1] == 'I') return -std::numeric_limits<double>::infinity();
    return std::strtod(text, nullptr);
}

class PostgresConnection : public ISqlConnection {
public:
    PostgresConnection(const std::string& conninfo, std::string label) : label(std::move(label)) {
        conn = PQconnectdb(conninfo.c_str());
        if (PQstatus(conn) != CONNECTION_OK) {
            const std::string why = PQerrorMessage(conn);
            PQfinish(conn);
            throw SqlError(this->label + ": cannot connect: " + trimmed(why));
        }
        query("SET client_min_messages = warning");  // no NOTICE chatter from IF NOT EXISTS
    }
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;
    ~PostgresConnection() override { PQfinish(conn); }

    std::vector<SqlRow> execute(const std::string& sql, const std::vector<SqlValue>& params) override {
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size(), nullptr);
        for (std::size_t i = 0; i < params.size(); ++i) {
            const SqlValue& v = params[i];
            if (const auto* n = std::get_if<std::int64_t>(&v)) {
                texts[i] = std::to_string(*n);
            } else if (const auto* d = std::get_if<double>(&v)) {
                if (std::isnan(*d)) continue;  // NaN is stored as NULL
                texts[i] = text_of(*d);
            } else if (const auto* s = std::get_if<std::string>(&v)) {
                texts[i] = *s;
            } else {
                continue;
            }
            values[i] = texts[i].c_str();
        }
        PGresult* result = PQexecPrepared(conn, statement(sql, static_cast<int>(params.size())).c_str(),
                                          static_cast<int>(params.size()), values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const std::string why = PQresultErrorMessage(result);
            PQclear(result);
            if (PQstatus(conn) != CONNECTION_OK) throw SqlError(label + ": the connection was lost: " + trimmed(why));
            throw SqlError(label + ": " + trimmed(why));
        }
        std::vector<SqlRow> rows(static_cast<std::size_t>(PQntuples(result)));
        const int n_columns = PQnfields(result);
        for (int r = 0; r < PQntuples(result); ++r) {
            auto& row = rows[static_cast<std::size_t>(r)].values;
            row.reserve(static_cast<std::size_t>(n_columns));
            for (int c = 0; c < n_columns; ++c) {
                if (PQgetisnull(result, r, c)) {
                    row.emplace_back(std::monostate{});
                    continue;
                }
                const char* text = PQgetvalue(result, r, c);
                switch (PQftype(result, c)) {
                    case kInt8: case kInt2: case kInt4: row.emplace_back(static_cast<std::int64_t>(std::strtoll(text, nullptr, 10))); break;
                    case kFloat4: case kFloat8: row.emplace_back(double_of(text)); break;
                    default: row.emplace_back(std::string(text, static_cast<std::size_t>(PQgetlength(result, r, c))));
                }
            }
        }
        PQclear(result);
        return rows;
    }

    void begin_write() override { query("BEGIN"); }
    void begin_read() override { query("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); }
    std::string serial_key() const override { return "BIGSERIAL PRIMARY KEY"; }
    std::string real_type() const override { return "DOUBLE PRECISION"; }
    bool has_table(const std::string& name) override {
        return query("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema() AND tablename = $1", {name})
                   .at(0).integer(0) > 0;
    }
    void lock_schema() override { query("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")"); }

private:
    static std::string trimmed(std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        return s;
    }

    // The prepared statement of sql, prepared once per connection.
    const std::string& statement(const std::string& sql, int n_params) {
        if (const auto it = statements.find(sql); it != statements.end()) return it->second;
        std::string name = "tarvex_" + std::to_string(statements.size());
        PGresult* result = PQprepare(conn, name.c_str(), sql.c_str(), n_params, nullptr);
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        const std::string why = ok ? "" : PQresultErrorMessage(result);
        PQclear(result);
        if (!ok) {
            if (PQstatus(conn) != CONNECTION_OK) throw SqlError(label + ": the connection was lost: " + trimmed(why));
            throw SqlError(label + ": " + trimmed(why));
        }
        return statements.emplace(sql, std::move(name)).first->second;
    }

    PGconn* conn = nullptr;
    const std::string label;
    std::unordered_map<std::string, std::string> statements;  // sql -> prepared statement name
};

}  // namespace

std::unique_ptr<ISqlConnection> connect_postgres(const std::string& conninfo, const std::string& label) {
    return std::make_unique<PostgresConnection>(conninfo, label);
}

}  // namespace tarvex::detail
