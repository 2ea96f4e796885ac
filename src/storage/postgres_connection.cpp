#include <libpq-fe.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
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

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// Parameters in the text form libpq sends; NULL (and NaN, stored as NULL) as a null pointer.
class TextParams {
public:
    explicit TextParams(const std::vector<SqlValue>& params) : texts(params.size()), pointers(params.size(), nullptr) {
        for (std::size_t i = 0; i < params.size(); ++i) {
            const SqlValue& v = params[i];
            if (const auto* n = std::get_if<std::int64_t>(&v)) {
                texts[i] = std::to_string(*n);
            } else if (const auto* d = std::get_if<double>(&v)) {
                if (std::isnan(*d)) continue;
                texts[i] = text_of(*d);
            } else if (const auto* s = std::get_if<std::string>(&v)) {
                texts[i] = *s;
            } else {
                continue;
            }
            pointers[i] = texts[i].c_str();
        }
    }
    int size() const { return static_cast<int>(pointers.size()); }
    const char* const* values() const { return pointers.data(); }

private:
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
};

SqlRows rows_of(const PGresult* result) {
    SqlRows rows(static_cast<std::size_t>(PQntuples(result)));
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
    return rows;
}

// Owns one PGresult.
struct Result {
    explicit Result(PGresult* r) : r(r) {}
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result() { PQclear(r); }
    bool ok() const { return PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK; }
    PGresult* const r;
};

class PostgresConnection : public ISqlConnection {
public:
    PostgresConnection(const std::string& conninfo, std::string label) : label(std::move(label)) {
        // A server that does not answer is given up after a while unless the URL says otherwise:
        // keywords after dbname's expansion would override the URL's, so the default comes first.
        const char* keywords[] = {"connect_timeout", "dbname", nullptr};
        const char* values[] = {"10", conninfo.c_str(), nullptr};
        conn = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
        if (PQstatus(conn) != CONNECTION_OK) {
            const std::string why = PQerrorMessage(conn);
            PQfinish(conn);
            throw SqlError(this->label + ": cannot connect: " + trimmed(why));
        }
        PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);  // the library prints nothing
    }
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;
    ~PostgresConnection() override { PQfinish(conn); }

    // Sent as one pipeline: a round trip for the whole transaction rather than one per statement.
    std::vector<SqlRows> transaction(Transaction kind, const std::vector<SqlStatement>& statements) override {
        return transaction(kind, statements, nullptr);
    }

    // Two pipelines, the second made from the results of the first.
    std::vector<SqlRows> transaction(Transaction kind, const std::vector<SqlStatement>& first, const NextStep& second) override {
        std::vector<SqlStatement> head;
        if (kind == Transaction::ReadOnly) {
            head.push_back({"BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}});
        } else {
            head.push_back({"BEGIN", {}});
            if (kind == Transaction::Fleeting) head.push_back({"SET LOCAL synchronous_commit = off", {}});
        }
        const std::size_t opening = head.size();
        head.insert(head.end(), first.begin(), first.end());
        if (!second) head.push_back({"COMMIT", {}});
        std::vector<SqlRows> out = pipeline(head, opening, opening + first.size());
        if (second) {
            std::vector<SqlStatement> tail;
            try {
                tail = second(out);
            } catch (...) {
                Result(PQexec(conn, "ROLLBACK"));
                throw;
            }
            tail.push_back({"COMMIT", {}});
            std::vector<SqlRows> more = pipeline(tail, 0, tail.size() - 1);
            out.insert(out.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
        }
        return out;
    }
    void begin(Transaction kind) override {
        if (kind == Transaction::ReadOnly) return static_cast<void>(query("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        query("BEGIN");
        if (kind == Transaction::Fleeting) query("SET LOCAL synchronous_commit = off");
    }
    std::string serial_key() const override { return "BIGSERIAL PRIMARY KEY"; }
    std::string real_type() const override { return "DOUBLE PRECISION"; }
    bool has_table(const std::string& name) override {
        return query("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema() AND tablename = $1", {name})
                   .at(0).integer(0) > 0;
    }
    void lock_schema() override { query("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")"); }

private:
    SqlRows execute(const std::string& sql, const std::vector<SqlValue>& values) override {
        const TextParams params(values);
        const Result result(PQexecPrepared(conn, statement(sql, params.size()).c_str(), params.size(), params.values(),
                                           nullptr, nullptr, 0));
        if (!result.ok()) throw failure(PQresultErrorMessage(result.r));
        return rows_of(result.r);
    }

    // Sends the statements as one pipeline and returns the rows of those from keep_from up to
    // keep_to. A failure rolls the transaction back and throws.
    std::vector<SqlRows> pipeline(const std::vector<SqlStatement>& all, std::size_t keep_from, std::size_t keep_to) {
        for (const SqlStatement& s : all) statement(s.sql, static_cast<int>(s.params.size()));  // prepared beforehand
        if (!PQenterPipelineMode(conn)) throw failure("cannot start a pipeline");
        std::vector<SqlRows> out;
        std::string error;
        for (const SqlStatement& s : all) {
            const TextParams params(s.params);
            if (!PQsendQueryPrepared(conn, statement(s.sql, params.size()).c_str(), params.size(), params.values(), nullptr,
                                     nullptr, 0)) {
                error = PQerrorMessage(conn);
                break;
            }
        }
        if (error.empty() && !PQpipelineSync(conn)) error = PQerrorMessage(conn);
        if (error.empty()) {
            // One result and a null per statement, until the sync's own result; after a failure
            // the rest come back aborted.
            for (std::size_t i = 0; PQstatus(conn) == CONNECTION_OK;) {
                PGresult* const raw = PQgetResult(conn);
                if (!raw) continue;
                const Result result(raw);
                const ExecStatusType status = PQresultStatus(raw);
                if (status == PGRES_PIPELINE_SYNC) break;
                if (status == PGRES_FATAL_ERROR && error.empty()) error = PQresultErrorMessage(raw);
                if (i >= keep_from && i < keep_to) out.push_back(result.ok() ? rows_of(raw) : SqlRows{});
                ++i;
            }
            if (PQstatus(conn) != CONNECTION_OK && error.empty()) error = PQerrorMessage(conn);
        }
        PQexitPipelineMode(conn);
        if (!error.empty() || PQstatus(conn) != CONNECTION_OK) {
            if (PQstatus(conn) == CONNECTION_OK) Result(PQexec(conn, "ROLLBACK"));  // a failed statement left it open
            throw failure(error);
        }
        return out;
    }

    SqlError failure(const std::string& why) const {
        if (PQstatus(conn) != CONNECTION_OK) return SqlError(label + ": the connection was lost: " + trimmed(why));
        return SqlError(label + ": " + trimmed(why));
    }

    // The prepared statement of sql, prepared once per connection.
    const std::string& statement(const std::string& sql, int n_params) {
        if (const auto it = statements.find(sql); it != statements.end()) return it->second;
        std::string name = "tarvex_" + std::to_string(statements.size());
        const Result result(PQprepare(conn, name.c_str(), sql.c_str(), n_params, nullptr));
        if (!result.ok()) throw failure(PQresultErrorMessage(result.r));
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
